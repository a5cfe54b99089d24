#include "Resizer.h"

#include "Panel.h"

#include <QGroupBox>

#include <cmath>

bool TResizer::IsContainer(const QWidget* control) {
    return qobject_cast<const TPanel*>(control) || qobject_cast<const QGroupBox*>(control);
}

void TResizer::Resize(QWidget* window) {
    if (FRecorded)
        Apply(FLayout, window->width(), window->height());
    else
        StoreLayout(window);
}

void TResizer::StoreLayout(QWidget* window) {
    FLayout = Record(window, window->width(), window->height());
    FRecorded = !FLayout.empty();
}

std::vector<TResizer::Node> TResizer::Record(const QWidget* container, int w, int h) {
    std::vector<Node> nodes;
    // With no width or height the shares are undefined: nothing of this container is recorded,
    // so its children keep their bounds and the rest of the window still resizes.
    if (w <= 0 || h <= 0)
        return nodes;
    for (QObject* obj : container->children()) {
        auto* child = qobject_cast<QWidget*>(obj);
        if (!child || child->isWindow())
            continue;
        Node n;
        n.control = child;
        const QRect g = child->geometry();
        n.left = double(g.x()) / w;
        n.top = double(g.y()) / h;
        n.width = double(g.width()) / w;
        n.height = double(g.height()) / h;
        if (IsContainer(child))
            n.children = Record(child, g.width(), g.height());
        nodes.insert(nodes.begin(), std::move(n));
    }
    return nodes;
}

void TResizer::Apply(const std::vector<Node>& nodes, int w, int h) {
    auto round = [](double v) { return static_cast<int>(std::nearbyint(v)); };
    for (const Node& n : nodes) {
        if (!n.control)
            continue;
        n.control->setGeometry(round(w * n.left), round(h * n.top), round(w * n.width),
                               round(h * n.height));
        if (!n.children.empty())
            Apply(n.children, n.control->width(), n.control->height());
    }
}
