#include "WorkingFolderPanel.h"

#include "FileListView.h"
#include "FolderListing.h"
#include "ProgramObjects.h"
#include "QuestionHost.h"
#include "UiTextId.h"
#include "WorkingFolderLayout.h"

#include <QLineEdit>
#include <QPushButton>

WorkingFolderPanel::WorkingFolderPanel(QuestionHost *questions, bool highDpi, QWidget *parent)
    : QFrame(parent), m_questions(questions), m_highDpi(highDpi), m_folderName(new QLineEdit(this)),
      m_browse(new QPushButton(QStringLiteral("..."), this)), m_fileList(new FileListView(this)),
      m_information(new QLineEdit(this))
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_folderName->setReadOnly(true);
    m_information->setReadOnly(true);
    connect(m_browse, &QPushButton::clicked, this, &WorkingFolderPanel::browse);
    connect(m_fileList, &FileListView::informationChanged, m_information, &QLineEdit::setText);
    connect(m_fileList, &FileListView::fileOpened, this, &WorkingFolderPanel::fileOpened);
    resize(204, 503);
    layoutChildren();
}

void WorkingFolderPanel::setFolder(const QString &path)
{
    m_folder = path;
    m_folderName->setText(FolderListing::displayName(path));
    m_fileList->setFolder(path);
}

void WorkingFolderPanel::refreshInformation()
{
    m_fileList->refreshInformation();
}

QString WorkingFolderPanel::information() const
{
    return m_information->text();
}

void WorkingFolderPanel::browse()
{
    if (!m_questions)
        return;
    const QString chosen =
        m_questions->chooseFolder(uiText().text(UiTextId::SelectScriptDirectory), m_folder);
    if (chosen.isEmpty())
        return;
    setFolder(chosen);
    emit folderChosen(chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/'));
}

void WorkingFolderPanel::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    layoutChildren();
}

void WorkingFolderPanel::layoutChildren()
{
    const WorkingFolderLayout layout = WorkingFolderLayout::forSize(size(), m_highDpi);
    m_folderName->setGeometry(layout.folderName);
    m_browse->setGeometry(layout.browseButton);
    m_fileList->setGeometry(layout.fileList);
    m_information->setGeometry(layout.information);
}
