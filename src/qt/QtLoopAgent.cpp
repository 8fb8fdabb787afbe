#include "qt/QtLoopAgent.h"

#include <QTimerEvent>

#include "kelvora/qt/kvQtLoop.h"

namespace kelvora::qtdetail {

TQtLoopAgent::TQtLoopAgent(TQtLoopBackend& Loop) : loop_(Loop) {}

void TQtLoopAgent::timerEvent(QTimerEvent* E) { loop_.OnQtTimer(E->timerId()); }

}  // namespace kelvora::qtdetail
