// A view that draws itself the way a layer-backed view does: a background colour, a bitmap as
// its contents (stretched over the bounds), rounded corners and a border on top, and between
// contents and border whatever a subclass paints.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <vector>

class LayerView : public QWidget {
    Q_OBJECT
  public:
    explicit LayerView(QWidget *parent = nullptr);

    // The bitmap shown over the whole bounds; a null image shows none.
    void setContents(const QImage &image);
    const QImage &contents() const { return contents_; }

    // An invalid colour means none.
    void setBackgroundColor(const QColor &colour);
    QColor backgroundColor() const { return backgroundColor_; }
    void setBorderColor(const QColor &colour);
    QColor borderColor() const { return borderColor_; }
    void setBorderWidth(qreal width);
    qreal borderWidth() const { return borderWidth_; }
    void setCornerRadius(qreal radius);
    qreal cornerRadius() const { return cornerRadius_; }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Subclasses draw here, between the contents and the border.
    virtual void drawContent(QPainter &painter);

  private:
    // Where the contents are drawn: at their own size when they are made for the bounds (within
    // a pixel of rounding), else stretched over them.
    QRectF contentsRect() const;
    // A view that covers itself with opaque pixels is painted without what lies below it.
    void updateOpaque();
    void drawBorder(QPainter &painter, const QRectF &bounds);
    // Draws `image` at its own size with its top-left corner at `at`.
    static void drawInBands(QPainter &painter, const QPointF &at, const QImage &image);
    // Draws an opaque RGBX picture at its own size by writing it into the window's raster
    // surface, converting each pixel once on the way, where the raster engine would convert each
    // row into a buffer and copy that. False, drawing nothing, where the painter is not a plain
    // unscaled raster one over a 32-bit surface.
    static bool copyToSurface(QPainter &painter, const QPointF &at, const QImage &image);

    QImage contents_;
    // The square-cornered border, drawn once per size and colour, as the strips along its four
    // edges (in device pixels from the top-left corner); each paint copies them.
    struct BorderStrip {
        QPoint at;
        QImage image;
    };
    std::vector<BorderStrip> borderStrips_;
    QSize borderCacheSize_;
    qreal borderCacheRatio_ = 0.0;
    QColor backgroundColor_;
    QColor borderColor_{Qt::black};
    qreal borderWidth_ = 0.0;
    qreal cornerRadius_ = 0.0;
};
