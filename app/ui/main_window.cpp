#include "app/ui/main_window.h"

#include "app/menus.h"
#include "app/shell.h"
#include "app/ui/artwork.h"
#include "app/ui/look.h"
#include "app/ui/widgets.h"
#include "detector/mode.h"
#include "model/tool.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace {

bool is_lamp(const Control& c);

// Stacking layers among siblings: lines under everything, then labels, then the shapes drawn
// over them (the LED marks over the cells), then the controls that own a window of their own
// (frames, buttons, boxes, pictures). The model's Z orders a layer. The two activity lamps
// overlap nothing: on top of all, the repaint of one looks at no sibling above it.
int layer(const Control& c) {
    if (is_lamp(c)) return 4;
    switch (c.kind()) {
    case Control_Kind::Line:
        return 0;
    case Control_Kind::Label:
        return 1;
    case Control_Kind::Shape:
        return 2;
    default:
        return 3;
    }
}

QString object_name(const Control& c) {
    return c.Index() >= 0 ? QStringLiteral("%1(%2)").arg(c.Name()).arg(c.Index()) : c.Name();
}

void set_colours(QWidget* w, const QColor& back, const QColor& fore) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, back);
    pal.setColor(QPalette::WindowText, fore);
    if (pal != w->palette() || !w->testAttribute(Qt::WA_SetPalette)) w->setPalette(pal);
}

void set_font(QWidget* w, const QFont& f) {
    if (f != w->font() || !w->testAttribute(Qt::WA_SetFont)) w->setFont(f);
}

void set_font(QWidget* w, const Font_Spec& wanted, double zoom) {
    set_font(w, look::font(wanted, zoom));
}

// A word wider than the room its control gives its text (a type name in a grid cell, a check
// box's caption, drawn with a font wider than the designed one) would break at a hyphen or be
// cut: the font is narrowed until every word fits.
QFont fit_words(QFont f, const QString& caption, int width) {
    static const QRegularExpression blanks(QStringLiteral("[ \n]"));
    const QStringList words = caption.split(blanks, Qt::SkipEmptyParts);
    const auto widest = [&words](const QFont& font) {
        const QFontMetrics fm(font);
        int w = 0;
        for (const QString& word : words)
            w = std::max(w, fm.horizontalAdvance(word));
        return w;
    };
    // Advances round to whole pixels where the label's layout does not: narrowed a step at a time
    // until the word fits with a pixel to spare.
    const int room = width - 2;
    for (int stretch = 100 * room / std::max(widest(f), 1); widest(f) > room && stretch >= 50;
         stretch -= 3)
        f.setStretch(std::min(stretch, 99));
    return f;
}

// The transmit and receive lamps, which blink with every byte on the line.
bool is_lamp(const Control& c) {
    return c.kind() == Control_Kind::Shape &&
           (c.Name() == QLatin1String("Send_Shp") || c.Name() == QLatin1String("Receive_Shp"));
}

} // namespace

Main_Window::Main_Window(Tool& t, QWidget* parent)
    : QMainWindow(parent), key_down(Form_KeyDown), t_(t) {
    look::install_font_substitutes();
    setObjectName(QStringLiteral("Bus_Frm"));
    setWindowTitle(t.form.Caption);
    connect(&t.form, &Bus_Form::caption_changed, this, [this] { setWindowTitle(t_.form.Caption); });
    setWindowIcon(artwork::app_icon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("Client"));
    client_->setFixedSize(client_size(zoom_));
    client_->setAutoFillBackground(true);
    set_colours(client_, look::color(t.form.BackColor), look::color(Sys_Window_Text));
    setCentralWidget(client_);

    const QList<Control*> all = t.form.all_controls();
    // Containers first, so that every child finds its parent widget.
    for (int pass = 0; pass < 2; ++pass) {
        for (Control* c : all) {
            if (c->kind() == Control_Kind::Menu || widgets_.contains(c)) continue;
            Control* box = c->Container();
            if (pass == 0 && box) continue;
            QWidget* container = box ? widgets_.value(box) : client_;
            if (!container) continue;
            bind(*c, make_widget(*c, container));
        }
    }
    restack(client_);
    for (Control* c : all)
        if (c->kind() == Control_Kind::Frame) restack(widgets_.value(c));

    build_menus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(&t.form, &Bus_Form::unloaded, this, [this] { close(); });
    connect(&t.screen, &Screen_Pointer::changed, this, [this] { follow_pointer(); });
    follow_pointer();

    if (QWidget* start = widgets_.value(&t.form.Start_Bus_Cmd)) start->setFocus();
}

Main_Window::~Main_Window() {
    if (keys_from_) keys_from_->removeEventFilter(this);
    if (wait_cursor_) QApplication::restoreOverrideCursor();
}

QWidget* Main_Window::make_widget(Control& c, QWidget* container) {
    QWidget* w = nullptr;
    switch (c.kind()) {
    case Control_Kind::Label: {
        auto* l = new Caption_Label(container);
        connect(l, &Caption_Label::clicked, &c, [&c] { c.click(); });
        if (c.Name() == QLatin1String("Value_Lbl")) {
            const int i = c.Index();
            connect(l, &Caption_Label::mouse_moved, this,
                    [this, i] { Value_Lbl_MouseMove(t_, i); });
        }
        w = l;
        break;
    }
    case Control_Kind::Button: {
        auto* b = new Caption_Button(container);
        connect(b, &QPushButton::clicked, &c, [&c] { c.click(); });
        w = b;
        break;
    }
    case Control_Kind::Frame: {
        auto* f = new Caption_Frame(container);
        if (&c == &t_.form.Status_Frame)
            connect(f, &Caption_Frame::background_mouse_move, this,
                    [this] { Status_Frame_MouseMove(t_); });
        w = f;
        break;
    }
    case Control_Kind::Check:
    case Control_Kind::Option: {
        const bool check = c.kind() == Control_Kind::Check;
        auto* b =
            new Option_Toggle(check ? Option_Toggle::Check : Option_Toggle::Option, container);
        QPointer<Option_Toggle> guard(b);
        connect(b, &QAbstractButton::clicked, this, [this, &c, guard, check](bool on) {
            if (check)
                c.set_value(on ? 1 : 0);
            else if (on)
                c.set_value(1);
            // A handler may have refused the change: the box shows what the model holds.
            if (guard) apply(c, guard);
        });
        w = b;
        break;
    }
    case Control_Kind::Shape:
        w = new Filled_Shape(container);
        break;
    case Control_Kind::Line:
        w = new Drawn_Line(container);
        break;
    case Control_Kind::Picture: {
        auto* p = new Drawn_Picture(container);
        if (&c == &t_.form.Picture1)
            p->set_picture(QPixmap::fromImage(artwork::thermometer_image()));
        else if (&c == &t_.form.Picture2)
            p->set_picture(QPixmap::fromImage(artwork::smoke_chamber_image()));
        w = p;
        break;
    }
    case Control_Kind::Progress: {
        auto* bar = new QProgressBar(container);
        bar->setFormat(QStringLiteral("%v / %m"));
        bar->setAlignment(Qt::AlignCenter);
        w = bar;
        break;
    }
    case Control_Kind::Menu:
        break;
    }
    w->setObjectName(object_name(c));
    return w;
}

void Main_Window::bind(Control& c, QWidget* w) {
    widgets_.insert(&c, w);
    controls_.insert(w, &c);
    last_z_.insert(&c, c.z());
    apply(c, w);
    if (is_lamp(c)) {
        // A lamp only ever turns on or off, four times a poll: nothing else of it is looked at.
        auto* shape = static_cast<Filled_Shape*>(w);
        lamps_.append(shape);
        connect(&c, &Control::changed, shape, [&c, shape] { shape->set_lit(c.Visible()); });
        return;
    }
    connect(&c, &Control::changed, w, [this, &c, w] { apply(c, w); });
}

void Main_Window::apply(Control& c, QWidget* w) {
    const look::Twips tw = look::Twips::of(this, zoom_);
    const QColor back = look::color(c.BackColor());
    const QColor fore = look::color(c.ForeColor());

    switch (c.kind()) {
    case Control_Kind::Label: {
        auto* l = static_cast<Caption_Label*>(w);
        l->setText(c.Caption());
        const Qt::Alignment h = c.Alignment() == 2   ? Qt::AlignHCenter
                                : c.Alignment() == 1 ? Qt::AlignRight
                                                     : Qt::AlignLeft;
        if (l->alignment() != (h | Qt::AlignTop)) l->setAlignment(h | Qt::AlignTop);
        set_font(l, fit_words(look::font(c.Font(), zoom_), c.Caption(), tw.x(c.Width())));
        set_colours(l, back, fore);
        // Rows of labels stand closer than a line of their text is high: one filled with the
        // colour its container has anyway would only cut the descenders of the row above.
        const Control* box = c.Container();
        l->setAutoFillBackground(!c.Transparent() && !(box && box->BackColor() == c.BackColor()));
        break;
    }
    case Control_Kind::Button: {
        auto* b = static_cast<Caption_Button*>(w);
        b->setText(c.Caption());
        set_font(b, c.Font(), zoom_);
        break;
    }
    case Control_Kind::Frame: {
        auto* f = static_cast<Caption_Frame*>(w);
        f->set_caption(c.Caption());
        set_font(f, c.Font(), zoom_);
        set_colours(f, back, fore);
        break;
    }
    case Control_Kind::Check:
    case Control_Kind::Option: {
        auto* b = static_cast<Option_Toggle*>(w);
        b->set_indicator_scale(zoom_);
        b->setText(c.Caption());
        // The room right of the box, at the width the control is about to get.
        const int room = tw.x(c.Width()) - b->text_rect().left();
        set_font(b, fit_words(look::font(c.Font(), zoom_), c.Caption(), room));
        set_colours(b, back, fore);
        b->setAutoFillBackground(!c.Transparent());
        b->setChecked(c.Value() != 0);
        break;
    }
    case Control_Kind::Shape: {
        auto* s = static_cast<Filled_Shape*>(w);
        s->set_shape(c.Shape());
        s->set_fill(back);
        s->set_border(c.BorderStyle() ? fore : QColor(), c.BorderWidth() * zoom_);
        if (is_lamp(c)) {
            s->set_lit(c.Visible());
            s->setVisible(true);
            if (const Control* box = c.Container())
                s->set_dark_fill(look::color(box->BackColor()));
            else
                s->set_dark_fill(look::color(t_.form.BackColor));
        }
        break;
    }
    case Control_Kind::Line: {
        const int width = std::max(1, int(std::lround(c.BorderWidth() * zoom_)));
        static_cast<Drawn_Line*>(w)->set_line(tw.point(c.X1(), c.Y1()), tw.point(c.X2(), c.Y2()),
                                              width, fore);
        break;
    }
    case Control_Kind::Picture:
        set_colours(w, back, fore);
        break;
    case Control_Kind::Progress: {
        auto* bar = static_cast<QProgressBar*>(w);
        set_font(bar, c.Font(), zoom_);
        bar->setRange(0, std::max(c.Max(), 1));
        bar->setValue(std::clamp(c.Value(), 0, std::max(c.Max(), 1)));
        break;
    }
    case Control_Kind::Menu:
        break;
    }

    if (w->toolTip() != c.ToolTipText()) w->setToolTip(c.ToolTipText());
    if (c.kind() != Control_Kind::Line) {
        QRect r = tw.rect(c.Left(), c.Top(), c.Width(), c.Height());
        // A label that paints no background of its own may reach below its box, so that the
        // descenders of its line are not cut where the box is lower than the font's line.
        if (c.kind() == Control_Kind::Label && !w->autoFillBackground())
            r.setHeight(std::max(r.height(), w->fontMetrics().height()));
        if (w->geometry() != r) w->setGeometry(r);
    }
    if (!is_lamp(c) && w->isHidden() == c.Visible()) w->setVisible(c.Visible());
    // A control that moved, showed or hid may now cover a lamp or uncover it.
    for (Filled_Shape* lamp : std::as_const(lamps_))
        lamp->forget_cover();

    int& z = last_z_[&c];
    if (z != c.z()) {
        z = c.z();
        restack(w->parentWidget());
    }
}

void Main_Window::restack(QWidget* container) {
    if (!container) return;
    QList<QPair<Control*, QWidget*>> order;
    for (QObject* o : container->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (Control* c = w ? controls_.value(w) : nullptr) order.append({c, w});
    }
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        const int la = layer(*a.first), lb = layer(*b.first);
        return la != lb ? la < lb : a.first->z() < b.first->z();
    });
    for (const auto& entry : order)
        entry.second->raise();
}

void Main_Window::build_menus() {
    QMenuBar* bar = menuBar();
    // The menus belong to the window, not to a desktop-wide bar.
    bar->setNativeMenuBar(false);
    const QList<Control*> all = t_.form.all_controls();
    auto items_of = [&all](const Control* menu) {
        QList<Control*> items;
        for (Control* c : all)
            if (c->kind() == Control_Kind::Menu && c->Container() == menu) items << c;
        return items;
    };
    auto follow = [this](Control& c, QAction* a) {
        actions_.insert(&c, a);
        auto update = [&c, a] {
            a->setText(c.Caption());
            a->setVisible(c.Visible());
            a->setCheckable(c.Value() != 0);
            a->setChecked(c.Value() == 1);
        };
        update();
        connect(&c, &Control::changed, a, update);
    };
    for (Control* top : items_of(nullptr)) {
        const QList<Control*> items = items_of(top);
        if (items.isEmpty()) {
            // A menu-bar item without a drop-down acts at once, like "&A propos...".
            QAction* a = bar->addAction(top->Caption());
            connect(a, &QAction::triggered, top, [top] { top->click(); });
            follow(*top, a);
            continue;
        }
        QMenu* menu = bar->addMenu(top->Caption());
        follow(*top, menu->menuAction());
        for (Control* item : items) {
            QAction* a = menu->addAction(item->Caption());
            connect(a, &QAction::triggered, item, [item] { item->click(); });
            follow(*item, a);
        }
    }
}

void Main_Window::follow_pointer() {
    const bool wait = t_.screen.MousePointer() == Screen_Pointer::Hourglass;
    if (wait == wait_cursor_) return;
    wait_cursor_ = wait;
    if (wait)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

QSize Main_Window::client_size(double zoom) const {
    const look::Twips tw = look::Twips::of(this, zoom);
    return {tw.x(Bus_Form::ScaleWidth), tw.y(Bus_Form::ScaleHeight)};
}

void Main_Window::set_zoom(double zoom) {
    if (zoom == zoom_) return;
    zoom_ = zoom;
    client_->setFixedSize(client_size(zoom_));
    for (auto it = controls_.begin(); it != controls_.end(); ++it)
        apply(*it.value(), const_cast<QWidget*>(it.key()));
    adjustSize();
}

void Main_Window::show_centred() {
    adjustSize();
    if (QScreen* s = screen()) {
        const QRect avail = s->availableGeometry();
        // A screen smaller than the window (a laptop at 125 % or more) gets the whole window,
        // scaled down; the window frame is not known before it is shown, so room is left for it.
        const QSize chrome = size() - client_->size() + QSize(Frame_Allowance_X, Frame_Allowance_Y);
        set_zoom(look::fit_zoom(client_size(1.0), chrome, avail.size()));
        QPoint top_left = avail.center() - QPoint(width() / 2, height() / 2);
        move(std::max(top_left.x(), avail.left()), std::max(top_left.y(), avail.top()));
    }
    show();
    if (QWidget* start = widgets_.value(&t_.form.Start_Bus_Cmd)) start->setFocus();
    activateWindow();
}

int Main_Window::key_code_of(int k) {
    if (k >= Qt::Key_F1 && k <= Qt::Key_F16) return 112 + (k - Qt::Key_F1);
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return k; // same codes as ASCII capitals
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return k;
    switch (k) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    default:
        return 0;
    }
}

// The keys are taken where they enter the window, before any control sees them: a key that the
// focused control ignores travels up to its parents, and a filter on the whole application
// would look at every event of the program, timers and the line's included.
void Main_Window::showEvent(QShowEvent* e) {
    QWindow* handle = windowHandle();
    if (handle && handle != keys_from_) {
        if (keys_from_) keys_from_->removeEventFilter(this);
        handle->installEventFilter(this);
        keys_from_ = handle;
    }
    QMainWindow::showEvent(e);
}

bool Main_Window::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress && watched == keys_from_ && key_down) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (const int code = key_code_of(k->key())) {
            int shift = 0;
            if (k->modifiers() & Qt::ShiftModifier) shift |= 1;
            if (k->modifiers() & Qt::ControlModifier) shift |= 2;
            if (k->modifiers() & Qt::AltModifier) shift |= 4;
            key_down(t_, code, shift);
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void Main_Window::closeEvent(QCloseEvent* e) {
    // The program's own unload comes back here through `unloaded` and must not be asked again.
    if (!t_.form.is_unloaded()) Form_QueryUnload(t_);
    e->accept();
}
