#include "gui/rule_window/rule_window_hooks.h"

#include <QAbstractButton>

#include "gui/main_window.h"
#include "shell/ports.h"
#include "gui/rule_window/rule_window.h"

namespace qv {

RuleWindow* RuleWindowOf(MainWindow& mainWindow) {
  return qobject_cast<RuleWindow*>(mainWindow.controls().Widget(Ctl::RuleWindow));
}

void AttachRuleWindow(MainWindowHooks& hooks) {
  hooks.loadRuleWindow = [](MainWindow& m) {
    MainWindowParts parts;
    parts.window = &m;
    parts.addressBox = m.Find("编辑框_章节列表网址");
    parts.statusLabel = m.Find("标签4");
    parts.captureCheck = m.Find<QAbstractButton>("选择框_页面抓取");
    parts.ruleButton = m.Find<QAbstractButton>("按钮_选择规则");
    LoadRuleWindow(&m.controls(), parts);
  };
  auto with = [](void (RuleWindow::*step)()) {
    return [step](MainWindow& m) {
      if (RuleWindow* w = RuleWindowOf(m)) (w->*step)();
    };
  };
  hooks.fillRuleList = with(&RuleWindow::FillRuleList);
  hooks.lookUpAddress = with(&RuleWindow::LookUpRuleForAddress);
  hooks.placeRuleWindow = with(&RuleWindow::PlaceRuleWindow);
  hooks.raiseRuleWindow = with(&RuleWindow::RaiseRuleWindow);
  hooks.toggleRuleWindow = with(&RuleWindow::ToggleRuleWindow);
  hooks.destroyRuleWindow = [](MainWindow& m) {
    RuleWindow* w = RuleWindowOf(m);
    // From here on nothing reaches the rule window or its boxes through the main window.
    for (Ctl role : {Ctl::RuleWindow, Ctl::SiteBox, Ctl::ListPatternBox, Ctl::TitlePatternBox,
                     Ctl::AuthorPatternBox, Ctl::LeftMarkerBox, Ctl::RightMarkerBox}) {
      m.controls().RegisterBox(role, nullptr);
    }
    DestroyRuleWindow(w);
  };
}

}  // namespace qv
