#include "gui/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>

namespace qv {
namespace {

class ClickingCheckBox : public QAccessibleWidget {
 public:
  explicit ClickingCheckBox(QCheckBox* box) : QAccessibleWidget(box, QAccessible::CheckBox) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && box()->accessibleName().isEmpty()) {
      QString caption = box()->text();
      // "&&" shows "&"; a single "&" marks a shortcut and is not read.
      caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
      caption.remove(QLatin1Char('&'));
      caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
      return caption;
    }
    return QAccessibleWidget::text(t);
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = true;
    s.checked = box()->checkState() == Qt::Checked;
    s.checkStateMixed = box()->checkState() == Qt::PartiallyChecked;
    return s;
  }

  QStringList actionNames() const override {
    if (!box()->isEnabled()) return QAccessibleWidget::actionNames();
    return QStringList{QAccessibleActionInterface::toggleAction(),
                       QAccessibleActionInterface::pressAction()} +
           QAccessibleWidget::actionNames();
  }

  void doAction(const QString& action) override {
    if (!box()->isEnabled()) return;
    if (action == QAccessibleActionInterface::toggleAction() ||
        action == QAccessibleActionInterface::pressAction()) {
      box()->click();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  QCheckBox* box() const { return static_cast<QCheckBox*>(widget()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (className == QLatin1String("QCheckBox") && object != nullptr && object->isWidgetType()) {
    return new ClickingCheckBox(static_cast<QCheckBox*>(object));
  }
  return nullptr;
}

}  // namespace

void InstallAccessibleCheckBoxes() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(Factory);
}

}  // namespace qv
