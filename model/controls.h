#pragma once
#include "model/indexed.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

// Colours as the tool writes them: &H00BBGGRR, or a system colour (&H800000xx).
using Bgr_Colour = uint32_t;
constexpr Bgr_Colour RGB(int r, int g, int b) {
    return static_cast<Bgr_Colour>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr Bgr_Colour Sys_Workspace = 0x8000000C;   // application workspace
constexpr Bgr_Colour Sys_Window = 0x80000005;      // window background
constexpr Bgr_Colour Sys_Window_Text = 0x80000008; // window text
constexpr Bgr_Colour Sys_Button_Face = 0x8000000F; // default face of buttons and frames
constexpr Bgr_Colour Sys_Button_Text = 0x80000012; // default text of buttons

enum class Control_Kind {
    Label,
    Button,
    Frame,
    Check,
    Option,
    Shape,
    Line,
    Picture,
    Menu,
    Progress
};

struct Font_Spec {
    QString Name = QStringLiteral("MS Sans Serif");
    double Size = 8.25;
    bool Bold = false;
};

// One control of a window as the program sees it: caption, colours, font, visibility, position
// (twips, relative to its container), value. The engine changes these; the Qt window owns the
// real widgets and follows `changed`. A control whose value is set, by the user or by code,
// raises Click, so handlers hear both alike.
class Control : public QObject {
    Q_OBJECT
  public:
    Control(Control_Kind kind, QString name, int index = -1, Control* container = nullptr);

    Control_Kind kind() const { return kind_; }
    const QString& Name() const { return name_; }
    int Index() const { return index_; }
    Control* Container() const { return container_; }
    void set_container(Control* c) { container_ = c; }

    const QString& Caption() const { return caption_; }
    void set_caption(const QString& c);
    bool Visible() const { return visible_; }
    void set_visible(bool v);
    Bgr_Colour BackColor() const { return back_; }
    void set_back_color(Bgr_Colour c);
    Bgr_Colour ForeColor() const { return fore_; }
    void set_fore_color(Bgr_Colour c);
    const Font_Spec& Font() const { return font_; }
    void set_font(const Font_Spec& f);
    void set_font_size(double pt);
    bool Transparent() const { return transparent_; }
    void set_transparent(bool t);
    int Alignment() const { return alignment_; } // 0 left, 1 right, 2 centre
    void set_alignment(int a);
    // Shown when the mouse rests on the control; empty for none.
    const QString& ToolTipText() const { return tool_tip_; }
    void set_tool_tip_text(const QString& t);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void Move(int left, int top);
    void Move(int left, int top, int width, int height);

    // Lines: end points in twips, and the drawn width in pixels.
    int X1() const { return x1_; }
    int Y1() const { return y1_; }
    int X2() const { return x2_; }
    int Y2() const { return y2_; }
    void set_line(int x1, int y1, int x2, int y2);
    int BorderWidth() const { return border_width_; }
    void set_border_width(int w);
    // Shapes: 1 draws an outline BorderWidth pixels wide in ForeColor around the shape, inside a
    // ring as wide of the opposite lightness; 0 none.
    int BorderStyle() const { return border_style_; }
    void set_border_style(int s);
    // The last three are the marks this tool draws; each fills the largest square centred in the
    // control, as Square and Circle do.
    enum Shape_Kind {
        Rectangle = 0,
        Square = 1,
        Oval = 2,
        Circle = 3,
        Diamond = 6,
        Triangle = 7,
        Cross = 8
    };
    int Shape() const { return shape_; }
    void set_shape(int s);

    // Check boxes: 0 cleared, 1 ticked. Option buttons: 1 selected, 0 not. Setting a different
    // value raises Click; an option that becomes selected clears the others of its group. Menu
    // items: 0 an ordinary item, 1 ticked, 2 one that can be ticked but is not.
    int Value() const { return value_; }
    void set_value(int v);
    // Progress bars: Value runs from 0 to Max.
    int Max() const { return max_; }
    void set_max(int m);

    // Brings the control in front of its siblings (the window layer keeps the order).
    void ZOrder();
    int z() const { return z_; }

    // The user's click on a button, label, cell or menu item.
    void click() { emit Click(); }

    // Copies the design properties of another control, as loading a new array element does.
    void copy_from(const Control& other);

  signals:
    void changed();
    void Click();

  private:
    Control_Kind kind_;
    QString name_;
    int index_;
    Control* container_;
    QString caption_;
    bool visible_ = true;
    Bgr_Colour back_ = Sys_Button_Face;
    Bgr_Colour fore_ = Sys_Window_Text;
    Font_Spec font_;
    bool transparent_ = false;
    int alignment_ = 0;
    QString tool_tip_;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    int x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
    int border_width_ = 1;
    int border_style_ = 0;
    int shape_ = Rectangle;
    int value_ = 0;
    int max_ = 100;
    int z_ = 0;
    static int next_z_;
};

// A control array with its own index bounds (Adr_Box(1..128), Param_Lbl(0..15)...).
template <int Lo, int Hi> class Control_Array {
  public:
    template <typename Make> explicit Control_Array(Make make) {
        for (int i = Lo; i <= Hi; ++i)
            items_(i) = make(i);
    }
    Control& operator()(int i) { return *items_(i); }
    const Control& operator()(int i) const { return *items_(i); }
    static constexpr int LBound() { return Lo; }
    static constexpr int UBound() { return Hi; }

  private:
    Indexed<std::unique_ptr<Control>, Lo, Hi> items_;
};

// Screen-wide mouse pointer (default arrow or hourglass).
class Screen_Pointer : public QObject {
    Q_OBJECT
  public:
    enum Pointer { Default = 0, Hourglass = 11 };
    int MousePointer() const { return pointer_; }
    void set_mouse_pointer(int p);
  signals:
    void changed();

  private:
    int pointer_ = Default;
};
