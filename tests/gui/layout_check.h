// Checks that a laid-out window shows every control whole: no two visible controls of one
// container overlap, and every caption (label, button, check box, group title) has at least the
// room it asks for.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <vector>

namespace qv {

// The visible controls directly inside `container` (the window or a group box).
inline std::vector<QWidget*> VisibleControls(QWidget* container) {
  std::vector<QWidget*> out;
  for (QObject* o : container->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (w != nullptr && !w->isWindow() && w->isVisible()) out.push_back(w);
  }
  return out;
}

inline void ExpectWholeAndApart(QWidget* window) {
  std::vector<QWidget*> containers = {window};
  for (QGroupBox* g : window->findChildren<QGroupBox*>()) {
    if (g->isVisible()) containers.push_back(g);
  }
  for (QWidget* container : containers) {
    const std::vector<QWidget*> controls = VisibleControls(container);
    for (size_t i = 0; i < controls.size(); ++i) {
      for (size_t j = i + 1; j < controls.size(); ++j) {
        EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
            << controls[i]->objectName().toStdString() << " "
            << controls[j]->objectName().toStdString() << " overlap in "
            << container->objectName().toStdString();
      }
      // Inside its container.
      EXPECT_TRUE(container->rect().contains(controls[i]->geometry()))
          << controls[i]->objectName().toStdString() << " leaves "
          << container->objectName().toStdString();
    }
  }
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    const std::string name = w->objectName().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w)) {
      if (l->text().isEmpty()) continue;
      if (l->wordWrap()) {
        EXPECT_GE(l->height(), l->heightForWidth(l->width())) << name;
      } else {
        EXPECT_GE(l->width(), l->sizeHint().width()) << name;
        EXPECT_GE(l->height(), l->sizeHint().height()) << name;
      }
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (b->text().isEmpty()) continue;
      // A button may be squeezed to its minimum: its caption and margins still fit.
      EXPECT_GE(b->width(), b->minimumSizeHint().width()) << name;
      EXPECT_GE(b->width(), b->fontMetrics().size(0, b->text()).width()) << name;
      EXPECT_GE(b->height(), b->fontMetrics().size(0, b->text()).height()) << name;
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
      if (g->title().isEmpty()) continue;
      EXPECT_GE(g->width(), g->fontMetrics().horizontalAdvance(g->title()) + 8) << name;
    }
  }
}

}  // namespace qv
