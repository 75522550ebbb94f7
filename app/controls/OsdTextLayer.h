// Text drawn over video: the text in its foreground colour on a black outline, so that it reads
// on any picture. Used for the channel titles and the on-screen time, mode and percentage.
// It never takes mouse events; clicks reach the view below it.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

class QPainter;

class OsdTextLayer : public QWidget {
    Q_OBJECT
  public:
    // alignmentMode: Qt::AlignLeft, Qt::AlignHCenter or Qt::AlignRight.
    explicit OsdTextLayer(Qt::Alignment alignmentMode, QWidget *parent = nullptr);

    void setString(const QString &text);
    QString string() const { return string_; }
    void setFontSize(qreal pixelSize);
    qreal fontSize() const { return fontSize_; }
    void setForegroundColor(const QColor &colour);
    QColor foregroundColor() const { return foregroundColor_; }
    Qt::Alignment alignmentMode() const { return alignmentMode_; }

    // Paints the outlined text into a painter whose origin is the layer's top-left corner.
    void drawInContext(QPainter &painter) const;

    static constexpr qreal kOutlineWidth = 3.0;
    // Where the text sits relative to the layer's top-left corner.
    static constexpr qreal kTextOffsetX = 4.0;
    static constexpr qreal kTextOffsetY = 8.0;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    // The outlined text drawn once per change of text, size, colour or width; each paint copies it.
    void renderCache();

    QImage cache_;
    qreal cacheDevicePixelRatio_ = 0.0;
    Qt::Alignment alignmentMode_;
    QString string_;
    qreal fontSize_ = 36.0;
    QColor foregroundColor_{Qt::white};
};
