// A top-level window that can carry a content border: a band along one edge, painted in the
// window's own finish, that the window's layout keeps free of other content.
#pragma once

#include <QWidget>

class ContentBorderWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ContentBorderWindow(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // thickness 0 removes the band from that edge.
    void setContentBorderThickness(qreal thickness, Qt::Edge edge);
    qreal contentBorderThickness(Qt::Edge edge) const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    qreal top_ = 0, bottom_ = 0;
};
