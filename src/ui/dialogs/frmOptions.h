#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

namespace ov {

struct AppContext;

// The options dialog: the security level, name scrambling and logging. It shows what
// the store holds and on Save writes the store and the running copy together. Enter
// saves, Escape cancels; only the page in front takes the keyboard.
class frmOptions : public QDialog
{
    Q_OBJECT
public:
    explicit frmOptions(AppContext& context);

    // Opens the dialog, or brings the open one forward without reading the store again.
    static frmOptions* showSingle(AppContext& context);

    // The option buttons of the three levels: index 0 "1", 1 "2", 2 "3".
    QRadioButton* Option1(int index) const;

    void Command1_Click();
    void Command2_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

private:
    void Form_Load();

    AppContext& m_context;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QFrame* Frame2 = nullptr;
    QCheckBox* Check2 = nullptr;
    QCheckBox* Check1 = nullptr;
    QFrame* Frame1 = nullptr;
    QRadioButton* m_option1[3] = {};
    QButtonGroup* m_option1Group = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdOK = nullptr;
};

} // namespace ov
