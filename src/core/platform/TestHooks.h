#pragma once

// Test hooks: the only doors the shipped program keeps open for its tests (and for the picture in
// the documentation). Nothing a user does reaches them. The whole list:
//
//   here (the core)
//     SetPublicAddresses / $ORVEX_TEST_PUBLIC_ADDRESSES   addresses that count as public sites
//     CrashDialogProbe / $ORVEX_TEST_CRASH_DIALOG_PROBE   the crash dialog describes itself and closes
//     ScreenshotPath / $ORVEX_SCREENSHOT                  the window photographs itself and closes
//     orvex --crash-test KIND [/check]                    faults on purpose (CrashReporter::FaultOnPurpose)
//   gui/widgets/TestHooks.h (the window)
//     scripted answers of message boxes and file dialogs, what they showed, a stand-in desktop

#include <memory>
#include <string>
#include <vector>

namespace TestHooks {

/// These addresses (as a connection reports them, e.g. "127.0.0.1") count as public whatever their
/// range, so a test on one machine can play a public site against an address of the user's own
/// network (127.0.0.2). Empty by default. Whole-program tests set it through
/// $ORVEX_TEST_PUBLIC_ADDRESSES (comma-separated), read once at the first fetch.
void SetPublicAddresses(std::vector<std::string> addresses);
/// The addresses made public by SetPublicAddresses or the environment; null for none.
std::shared_ptr<const std::vector<std::string>> PublicAddresses();

/// $ORVEX_TEST_CRASH_DIALOG_PROBE: a file the crash dialog writes what it shows into, then closes
/// as "Don't Send" would; "" when not set.
std::string CrashDialogProbe();

/// $ORVEX_SCREENSHOT: a PNG the main window writes of itself once it is drawn, then closes (the
/// picture in the README); "" when not set.
std::string ScreenshotPath();

} // namespace TestHooks
