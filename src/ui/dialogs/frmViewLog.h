#pragma once

#include <QDialog>

class QPushButton;

namespace ov {

struct AppContext;
class WideList;

// Shows the operation log line by line, as it was when the window opened, and deletes
// it on "Clear Log". Enter and Escape close it.
class frmViewLog : public QDialog
{
    Q_OBJECT
public:
    explicit frmViewLog(AppContext& context);

    // Opens the viewer, or brings the open one forward without reading the file again.
    static frmViewLog* showSingle(AppContext& context);

    void Command2_Click();
    void cmdExit_Click();

private:
    void Form_Load();

    AppContext& m_context;
    WideList* List1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* cmdExit = nullptr;
};

} // namespace ov
