// Helpers for tests that need Qt widgets. Link velt_qt_test_support: its
// main() makes the QApplication (offscreen unless a platform is set).
#pragma once

#include <functional>

namespace velt::testing {

// Processes events until done() or about timeoutMs; the result of done().
bool processEventsUntil(const std::function<bool()>& done, int timeoutMs = 3000);

// Runs action from the event loop once the next modal dialog is open, then
// returns; the caller then opens the dialog.
void whenModalOpens(std::function<void()> action);

}  // namespace velt::testing
