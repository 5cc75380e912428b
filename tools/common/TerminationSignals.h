// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QObject;

// Turns SIGINT and SIGTERM (and SIGHUP) into a call of `handler` from the event loop, through a
// socket pair written by the signal handler: nothing but a write runs inside the handler.
// `context` owns the notifier. Returns false when the socket pair cannot be made.
bool onTerminationSignals(QObject *context, std::function<void()> handler);
