#pragma once

#include <QWidget>

class NandEngine;
class QCheckBox;
class QIntValidator;
class QLineEdit;

// The NAND engine's tool widget on the main window's second tool bar: the
// block window ("Start Block:", "Number of Blocks:") and the "Copy source
// badblock" option of smart copy. What the edits mean is the engine's
// NandBlockWindow; the panel only shows it.
class NandPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Width = 500;

    // `large` doubles every coordinate and size (the large-font layout).
    NandPanel(NandEngine &engine, bool large, QWidget *parent = nullptr);

    QLineEdit *startEdit() const { return m_startEdit; }
    QLineEdit *countEdit() const { return m_countEdit; }
    QCheckBox *copyBadBox() const { return m_copyBadBox; }

private:
    void showWindow();

    NandEngine &m_engine;
    QLineEdit *m_startEdit = nullptr;
    QLineEdit *m_countEdit = nullptr;
    QCheckBox *m_copyBadBox = nullptr;
    QIntValidator *m_startValidator = nullptr;
    QIntValidator *m_countValidator = nullptr;
};
