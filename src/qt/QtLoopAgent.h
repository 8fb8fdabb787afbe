// The QObject through which the Qt loop back-end reaches the UI thread's
// event loop: it receives the timer events of the back-end's timers.
#pragma once

#include <QObject>

namespace kelvora {
class TQtLoopBackend;

namespace qtdetail {

class TQtLoopAgent : public QObject {
 public:
  explicit TQtLoopAgent(TQtLoopBackend& Loop);

 protected:
  void timerEvent(QTimerEvent* E) override;

 private:
  TQtLoopBackend& loop_;
};

}  // namespace qtdetail
}  // namespace kelvora
