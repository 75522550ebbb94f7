// A view that draws itself the way a layer-backed view does: a background colour, a bitmap as
// its contents (stretched over the bounds), rounded corners and a border on top, and between
// contents and border whatever a subclass paints.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

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
    // Subclasses draw here, between the contents and the border.
    virtual void drawContent(QPainter &painter);

  private:
    QImage contents_;
    QColor backgroundColor_;
    QColor borderColor_{Qt::black};
    qreal borderWidth_ = 0.0;
    qreal cornerRadius_ = 0.0;
};
