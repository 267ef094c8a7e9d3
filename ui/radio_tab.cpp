#include "ui/radio_tab.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QRadioButton>
#include <QWidget>

namespace tavrun::ui {
namespace {

bool IsTabStop(QWidget* widget, QWidget* window) {
  return widget != window && widget->window() == window &&
         (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus &&
         widget->focusProxy() == nullptr && widget->isVisibleTo(window) && widget->isEnabled();
}

QButtonGroup* ExclusiveGroup(QWidget* widget) {
  auto* button = qobject_cast<QRadioButton*>(widget);
  QButtonGroup* group = button ? button->group() : nullptr;
  return group && group->exclusive() ? group : nullptr;
}

}  // namespace

bool MoveTabFocus(QWidget* window, bool next) {
  QWidget* from = window->focusWidget();
  if (from == nullptr) return false;
  QButtonGroup* fromGroup = ExclusiveGroup(from);
  QWidget* widget = from;
  // The focus chain is a ring; it holds every widget of the window once.
  for (;;) {
    widget = next ? widget->nextInFocusChain() : widget->previousInFocusChain();
    if (widget == nullptr || widget == from) return false;
    if (!IsTabStop(widget, window)) continue;
    if (QButtonGroup* group = ExclusiveGroup(widget)) {
      if (group == fromGroup) continue;  // the rest of the group one is leaving
      QAbstractButton* checked = group->checkedButton();
      if (checked != nullptr && IsTabStop(checked, window)) widget = checked;
    }
    widget->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
  }
}

}  // namespace tavrun::ui
