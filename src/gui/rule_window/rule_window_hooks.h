// Attaches the rule-settings window to the main window's events.
#pragma once

namespace qv {

struct MainWindowHooks;
class MainWindow;
class RuleWindow;

// Fills the rule window's steps of `hooks`: created (load hidden beside the main window, fill
// the rule list, look up the rule of the initial address), every text change of
// 编辑框_章节列表网址 (the lookup), moves and resizes (placement), activation (raise),
// 按钮_选择规则 (show / hide) and the will-be-destroyed step (destroy the rule window).
void AttachRuleWindow(MainWindowHooks& hooks);

// The rule window of a main window built with those hooks (null before it is loaded and once
// it is destroyed).
RuleWindow* RuleWindowOf(MainWindow& mainWindow);

}  // namespace qv
