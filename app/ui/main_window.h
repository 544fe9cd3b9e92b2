#pragma once
#include "model/controls.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QWindow>
#include <functional>

struct Tool;
class QAction;
class Filled_Shape;

// The Qt face of Bus_Frm: one widget per model control, placed in twips, following the model
// live and handing user input back to it. The behaviour lives in the handlers Form_Load wires
// to the model; this window owns layout and nothing else.
class Main_Window : public QMainWindow {
    Q_OBJECT
  public:
    explicit Main_Window(Tool& t, QWidget* parent = nullptr);
    ~Main_Window() override;

    // The widget that shows `c` (nullptr for menu items), and the menu action of a menu item.
    QWidget* widget(const Control& c) const { return widgets_.value(&c); }
    QAction* action(const Control& c) const { return actions_.value(&c); }
    QWidget* client() const { return client_; }

    // Centres the window on its screen, scaled down when the screen is too small for it, shows
    // it and gives the focus to Start_Bus_Cmd.
    void show_centred();
    // Draws the window's content at `zoom` times its size (1: as designed).
    void set_zoom(double zoom);
    // What the window frame takes, in pixels, before the window manager has said.
    static constexpr int Frame_Allowance_X = 8;
    static constexpr int Frame_Allowance_Y = 40;

    // Where key presses go before the focused control sees them (Form_KeyDown).
    std::function<void(Tool&, int key_code, int shift)> key_down;

    // The key code Form_KeyDown takes for a Qt key (F5 is 116), or 0 when it has none.
    static int key_code_of(int qt_key);

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    QWidget* make_widget(Control& c, QWidget* container);
    void bind(Control& c, QWidget* w);
    void apply(Control& c, QWidget* w);
    void restack(QWidget* container);
    void build_menus();
    void follow_pointer();
    // The client area: every twip of the design drawn at `zoom`.
    QSize client_size(double zoom) const;

    Tool& t_;
    QWidget* client_ = nullptr;
    QHash<const Control*, QWidget*> widgets_;
    QHash<const QWidget*, Control*> controls_;
    QHash<const Control*, QAction*> actions_;
    QHash<const Control*, int> last_z_;
    QList<Filled_Shape*> lamps_;
    QPointer<QWindow> keys_from_; // the native window whose key presses go to key_down
    bool wait_cursor_ = false;
    double zoom_ = 1.0;
};
