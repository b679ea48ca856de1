#include "platform/win32/Window.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/core_guard.h"

namespace {

struct WindowTable {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<CWindowTarget>> targets;
  std::uintptr_t next = 0x1000;
};

WindowTable& Table() {
  static WindowTable table;
  return table;
}

}  // namespace

HWND RegisterWindow(std::shared_ptr<CWindowTarget> target) {
  if (!target) return nullptr;
  auto& table = Table();
  std::lock_guard lock(table.mutex);
  // Handles step by 4 like Windows handles and are never given out twice.
  const std::uintptr_t id = table.next;
  table.next += 4;
  table.targets.emplace(id, std::move(target));
  return reinterpret_cast<HWND>(id);
}

void UnregisterWindow(HWND window) {
  std::shared_ptr<CWindowTarget> released;
  {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.targets.find(reinterpret_cast<std::uintptr_t>(window));
    if (it == table.targets.end()) return;
    released = std::move(it->second);
    table.targets.erase(it);
  }
  // released goes out of scope outside the lock: a target's destructor may
  // itself look up windows.
}

std::shared_ptr<CWindowTarget> LookupWindow(HWND window) {
  auto& table = Table();
  std::lock_guard lock(table.mutex);
  auto it = table.targets.find(reinterpret_cast<std::uintptr_t>(window));
  return it == table.targets.end() ? nullptr : it->second;
}

LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto target = LookupWindow(window);
  return target ? target->Send(msg, wParam, lParam) : SendToSystemWindow(window, msg, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto target = LookupWindow(window);
  if (!target) return PostToSystemWindow(window, msg, wParam, lParam);
  return target->Post(msg, wParam, lParam) ? TRUE : FALSE;
}
