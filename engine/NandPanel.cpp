#include "NandPanel.h"

#include "NandEngine.h"
#include "ProgramObjects.h"
#include "UiText.h"
#include "UiTextId.h"

#include <QCheckBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

#include <limits>

namespace {

int validatorTop(quint32 value)
{
    return int(std::min<quint32>(value, quint32(std::numeric_limits<int>::max())));
}

} // namespace

NandPanel::NandPanel(NandEngine &engine, bool large, QWidget *parent)
    : QWidget(parent), m_engine(engine)
{
    const int scale = large ? 2 : 1;
    setFixedWidth(Width * scale);
    setFixedHeight(24 * scale);
    struct Place
    {
        int x, width;
    };
    // In one row: start label and edit, count label and edit, the option.
    const Place startLabel{0, 70}, startEdit{72, 70}, countLabel{150, 105}, countEdit{257, 70},
        copyLabel{335, 140}, copyBox{477, 20};
    const auto place = [scale](QWidget *widget, Place p) {
        widget->setGeometry(p.x * scale, 2 * scale, p.width * scale, 20 * scale);
    };
    auto *start = new QLabel(this);
    uiText().registerLabel(start, UiTextId::StartBlock);
    place(start, startLabel);
    m_startEdit = new QLineEdit(this);
    place(m_startEdit, startEdit);
    auto *count = new QLabel(this);
    uiText().registerLabel(count, UiTextId::NumberOfBlocks);
    place(count, countLabel);
    m_countEdit = new QLineEdit(this);
    place(m_countEdit, countEdit);
    auto *copy = new QLabel(this);
    uiText().registerLabel(copy, UiTextId::CopySourceBadblock);
    place(copy, copyLabel);
    m_copyBadBox = new QCheckBox(this);
    place(m_copyBadBox, copyBox);

    const NandBlockWindow &window = engine.blockWindow();
    m_startValidator = new QIntValidator(0, validatorTop(window.startTop()), this);
    m_countValidator = new QIntValidator(1, validatorTop(window.countTop()), this);
    m_startEdit->setValidator(m_startValidator);
    m_countEdit->setValidator(m_countValidator);
    m_startEdit->setText(window.startText());
    m_countEdit->setText(window.countText());

    connect(m_startEdit, &QLineEdit::textChanged, &engine, &NandEngine::startBlockEdited);
    connect(m_countEdit, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_engine.blockWindow().countEdited(text); });
    connect(m_copyBadBox, &QCheckBox::toggled, this,
            [this](bool on) { m_engine.setCopySourceBadBlocks(on); });
    connect(&engine, &NandEngine::windowChanged, this, &NandPanel::showWindow);
}

void NandPanel::showWindow()
{
    const NandBlockWindow &window = m_engine.blockWindow();
    m_countValidator->setTop(validatorTop(window.countTop()));
    m_countEdit->setText(window.countText());
}
