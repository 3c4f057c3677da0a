#pragma once

#include <QLoggingCategory>

// The programs' messages, by where they come from. Warnings are on; debug is
// off until asked for, e.g. QT_LOGGING_RULES='orvik.exchange.debug=true'.
//   orvik.link      ports opened, refused, lost and back
//   orvik.exchange  every frame sent and every reply, with its time
//   orvik.mqtt      the broker connection
//   orvik.pjlink    PJLink clients refused or cut off
//   orvik.send      the metrics file, orvik-send's and the service's
//   orvik.control   the service's socket: ports lent and given back
//   orvik.loop      the event loop's own failures
Q_DECLARE_LOGGING_CATEGORY(lcLink)
Q_DECLARE_LOGGING_CATEGORY(lcExchange)
Q_DECLARE_LOGGING_CATEGORY(lcMqtt)
Q_DECLARE_LOGGING_CATEGORY(lcPjlink)
Q_DECLARE_LOGGING_CATEGORY(lcSend)
Q_DECLARE_LOGGING_CATEGORY(lcControl)
Q_DECLARE_LOGGING_CATEGORY(lcLoop)

namespace orvik {

// Each message one line, "PROGRAM: text", no colours: as a terminal and
// journald both read it. QT_MESSAGE_PATTERN, where set, wins. Where stderr
// is journald's own stream (JOURNAL_STREAM), each line starts with its level
// ("<4>" for a warning), so that the journal keeps it.
void useOneLineMessages();

} // namespace orvik
