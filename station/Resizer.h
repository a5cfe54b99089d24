#pragma once
// Proportional layout: the first Resize records every child's position and size as shares of
// its container; every later Resize gives each child the same shares of the container's new
// size (rounded to nearest, halves to even). Containers are the window itself, panels
// (TPanel) and group boxes; fonts are not scaled.
#include <QPointer>
#include <QWidget>

#include <vector>

class TResizer {
  public:
    struct Node {
        QPointer<QWidget> control;
        double left = 0, top = 0, width = 0, height = 0;
        std::vector<Node> children;
    };

    // The window calls this with its client area from its resize event.
    void Resize(QWidget* window);
    void StoreLayout(QWidget* window);
    bool Recorded() const { return FRecorded; }
    const std::vector<Node>& Layout() const { return FLayout; }

    static bool IsContainer(const QWidget* control);

  private:
    static std::vector<Node> Record(const QWidget* container, int w, int h);
    static void Apply(const std::vector<Node>& nodes, int w, int h);

    bool FRecorded = false;
    std::vector<Node> FLayout;
};
