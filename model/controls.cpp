#include "model/controls.h"

int Control::next_z_ = 0;

Control::Control(Control_Kind kind, QString name, int index, Control* container)
    : kind_(kind), name_(std::move(name)), index_(index), container_(container), z_(++next_z_) {}

void Control::set_caption(const QString& c) {
    if (c == caption_) return;
    caption_ = c;
    emit changed();
}

void Control::set_visible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    emit changed();
}

void Control::set_back_color(Bgr_Colour c) {
    if (c == back_) return;
    back_ = c;
    emit changed();
}

void Control::set_fore_color(Bgr_Colour c) {
    if (c == fore_) return;
    fore_ = c;
    emit changed();
}

void Control::set_font(const Font_Spec& f) {
    font_ = f;
    emit changed();
}

void Control::set_font_size(double pt) {
    font_.Size = pt;
    emit changed();
}

void Control::set_transparent(bool t) {
    transparent_ = t;
    emit changed();
}

void Control::set_alignment(int a) {
    alignment_ = a;
    emit changed();
}

void Control::set_tool_tip_text(const QString& t) {
    if (t == tool_tip_) return;
    tool_tip_ = t;
    emit changed();
}

void Control::Move(int left, int top) {
    Move(left, top, width_, height_);
}

void Control::Move(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    emit changed();
}

void Control::set_line(int x1, int y1, int x2, int y2) {
    x1_ = x1;
    y1_ = y1;
    x2_ = x2;
    y2_ = y2;
    emit changed();
}

void Control::set_border_width(int w) {
    border_width_ = w;
    emit changed();
}

void Control::set_border_style(int s) {
    if (s == border_style_) return;
    border_style_ = s;
    emit changed();
}

void Control::set_shape(int s) {
    shape_ = s;
    emit changed();
}

void Control::set_max(int m) {
    if (m == max_) return;
    max_ = m;
    emit changed();
}

void Control::set_value(int v) {
    if (v == value_) return;
    value_ = v;
    emit changed();
    if (kind_ == Control_Kind::Option && v != 0 && parent()) {
        // The other options of the same container are cleared without a Click of their own.
        for (QObject* o : parent()->children()) {
            auto* other = qobject_cast<Control*>(o);
            if (other && other != this && other->kind_ == Control_Kind::Option &&
                other->container_ == container_ && other->value_ != 0) {
                other->value_ = 0;
                emit other->changed();
            }
        }
    }
    if (kind_ == Control_Kind::Check || (kind_ == Control_Kind::Option && v != 0)) emit Click();
}

void Control::ZOrder() {
    z_ = ++next_z_;
    emit changed();
}

void Control::copy_from(const Control& o) {
    caption_ = o.caption_;
    visible_ = o.visible_;
    back_ = o.back_;
    fore_ = o.fore_;
    font_ = o.font_;
    transparent_ = o.transparent_;
    alignment_ = o.alignment_;
    left_ = o.left_;
    top_ = o.top_;
    width_ = o.width_;
    height_ = o.height_;
    border_width_ = o.border_width_;
    border_style_ = o.border_style_;
    shape_ = o.shape_;
    x1_ = o.x1_;
    y1_ = o.y1_;
    x2_ = o.x2_;
    y2_ = o.y2_;
    emit changed();
}

void Screen_Pointer::set_mouse_pointer(int p) {
    if (p == pointer_) return;
    pointer_ = p;
    emit changed();
}
