// The window's image buttons. ImageButton shows its picture dimmed while it is disabled, as
// the desktop's own buttons do: a light picture on the dark window would otherwise look the
// same locked as unlocked.
//
// Buttons that tell whether they are being held down: the rewind buttons (CustomizedButton1)
// and the forward buttons (CustomizedButton2). btnPressed() reads 1 from the moment the mouse
// button goes down on the button until it is released, wherever it is released; a button that
// is hidden or disabled meanwhile counts as released. GUI thread.
#pragma once

#include <QPushButton>

class ImageButton : public QPushButton {
    Q_OBJECT
  public:
    explicit ImageButton(QWidget *parent = nullptr) : QPushButton(parent) {}

    // How much of the picture shows while disabled.
    static constexpr qreal kDisabledOpacity = 0.35;

  protected:
    void paintEvent(QPaintEvent *event) override;
};

class PressAndHoldButton : public ImageButton {
    Q_OBJECT
  public:
    int btnPressed() const { return btnPressed_; }
    void setBtnPressed(int pressed) { btnPressed_ = pressed; }

  protected:
    explicit PressAndHoldButton(QWidget *parent);
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    // The press has ended (the mouse button was released).
    virtual void mouseUp();
    virtual void logDown() = 0;
    virtual void logPressed() {}
    virtual void logUp() = 0;

  private:
    int btnPressed_ = 0;
};

class CustomizedButton1 : public PressAndHoldButton {
    Q_OBJECT
  public:
    explicit CustomizedButton1(QWidget *parent = nullptr) : PressAndHoldButton(parent) {}

  protected:
    void logDown() override;
    void logUp() override;
};

class CustomizedButton2 : public PressAndHoldButton {
    Q_OBJECT
  public:
    explicit CustomizedButton2(QWidget *parent = nullptr) : PressAndHoldButton(parent) {}

  protected:
    void logDown() override;
    void logPressed() override;
    void logUp() override;
};
