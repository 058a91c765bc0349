// Tells systemd what the service is doing when systemd started it with a notification socket
// (Type=notify): READY=1 after start-up, WATCHDOG=1 while it is alive (also from inside long
// waits, through the platform's heartbeat hook), STATUS= with the list and stage, STOPPING=1.
// Without NOTIFY_SOCKET in the environment every call does nothing.
#pragma once

#include <string>

namespace orvex {

// Reads NOTIFY_SOCKET once and, when it is set, installs the heartbeat hook.
void StartSystemdNotification();
// Whether StartSystemdNotification found a notification socket.
bool SystemdNotificationEnabled();

void NotifyReady();
// "STATUS=<text>"; `systemctl status orvex` shows it.
void NotifyStatus(const std::string& text);
// WATCHDOG=1, at most once a second however often it is called.
void NotifyAlive();
void NotifyStopping();

}  // namespace orvex
