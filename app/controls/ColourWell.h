// A colour well: a button that shows a colour and lets the user pick another in the colour
// dialog. colorChosen is sent when the user picks one (not when the colour is set in code).
#pragma once

#include <QColor>
#include <QPushButton>

class ColourWell : public QPushButton {
    Q_OBJECT
  public:
    explicit ColourWell(QWidget *parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor &colour);

  signals:
    void colorChosen();

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    void openColourDialog();

    QColor color_{Qt::white};
};
