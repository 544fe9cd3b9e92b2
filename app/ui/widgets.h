#pragma once
#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRegion>
#include <QWidget>

// The widget kinds of the main window. Each one only draws and reports user input; the main
// window binds it to its model control.

// Label: plain text, always wrapped within its width, top-aligned.
class Caption_Label : public QLabel {
    Q_OBJECT
  public:
    explicit Caption_Label(QWidget* parent);
  signals:
    void clicked();
    void mouse_moved();

  protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

  private:
    bool pressed_ = false;
};

// Push button whose caption wraps onto a second line when it does not fit.
class Caption_Button : public QPushButton {
    Q_OBJECT
  public:
    explicit Caption_Button(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent*) override;
};

// Frame: etched border, caption at the top left in the frame's text colour, filled background.
// Children sit in it at their own twips from its top-left corner.
class Caption_Frame : public QWidget {
    Q_OBJECT
  public:
    explicit Caption_Frame(QWidget* parent);
    void set_caption(const QString& c);
    const QString& caption() const { return caption_; }
  signals:
    // The mouse moved over the frame itself, not over one of its visible children.
    void background_mouse_move();

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;

  private:
    QString caption_;
};

// Check box or option button with a caption that wraps within its width.
class Option_Toggle : public QAbstractButton {
    Q_OBJECT
  public:
    enum Kind { Check, Option };
    Option_Toggle(Kind kind, QWidget* parent);
    Kind kind() const { return kind_; }
    // The box or circle drawn at this scale of the style's own, with the window's content.
    void set_indicator_scale(double scale);
    // Where the caption is drawn, wrapped: right of the box or circle.
    QRect text_rect() const;

  protected:
    void paintEvent(QPaintEvent*) override;
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override;

  private:
    QRect indicator_rect() const;
    Kind kind_;
    double indicator_scale_ = 1.0;
};

// Filled shape, the model's Shape values: rectangle, square, oval, circle, and the marks
// (diamond, triangle, cross); with an outline when it is given one.
class Filled_Shape : public QWidget {
    Q_OBJECT
  public:
    explicit Filled_Shape(QWidget* parent);
    void set_shape(int shape);
    void set_fill(const QColor& c);
    // An outline `width` pixels wide drawn inside the control; an invalid colour for none.
    void set_border(const QColor& c, qreal width);
    int shape() const { return shape_; }
    // A lamp that blinks many times a second stays shown and only paints itself lit or dark:
    // showing and hiding a child makes the whole window recompute its regions each time.
    void set_lit(bool lit);
    bool lit() const { return lit_; }
    // What a dark lamp shows: the colour beneath it, painted by the lamp itself.
    void set_dark_fill(const QColor& c);
    // Something may have moved over the lamp or away from it: look again at the next blink.
    void forget_cover();

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void moveEvent(QMoveEvent*) override;

  private:
    void draw(QPainter& p);
    bool copy_into_store();
    const QImage& face(QImage::Format format, int scale);
    void forget_faces();
    enum class Cover { Unknown, None, Some };
    Cover cover_ = Cover::Unknown;
    QWidget* top_ = nullptr;
    QRect area_; // in the window's coordinates
    QRegion area_region_;
    QImage lit_face_, dark_face_;
    int shape_ = 0;
    QColor fill_;
    QColor border_;
    qreal border_width_ = 0;
    bool lit_ = true;
    QColor dark_;
};

// Straight line between two points of its container, `width` pixels thick. The widget covers
// the line's bounding box and lets the mouse through.
class Drawn_Line : public QWidget {
    Q_OBJECT
  public:
    explicit Drawn_Line(QWidget* parent);
    void set_line(const QPoint& p1, const QPoint& p2, int width, const QColor& c);
    QPoint p1() const { return p1_; }
    QPoint p2() const { return p2_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QPoint p1_, p2_;
    int width_ = 1;
    QColor colour_;
};

// Picture box: its background with an image at the top-left corner, one pixel in.
class Drawn_Picture : public QWidget {
    Q_OBJECT
  public:
    explicit Drawn_Picture(QWidget* parent);
    void set_picture(const QPixmap& p);
    const QPixmap& picture() const { return picture_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QPixmap picture_;
};
