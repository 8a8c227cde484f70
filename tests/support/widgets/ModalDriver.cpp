#include "support/widgets/ModalDriver.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace telvar::test {

void onNextModal(std::function<void(QWidget*)> action)
{
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    // Gives up after about two seconds, so that it never answers a box
    // opened by a later test.
    QObject::connect(poll, &QTimer::timeout, poll,
                     [poll, polls = 0, action = std::move(action)]() mutable {
                         QWidget* modal = QApplication::activeModalWidget();
                         if (!modal || !modal->isVisible()) {
                             if (++polls > 400) {
                                 poll->stop();
                                 poll->deleteLater();
                             }
                             return;
                         }
                         poll->stop();
                         poll->deleteLater();
                         QPointer<QWidget> guard(modal);
                         action(modal);
                         QTimer::singleShot(2000, qApp, [guard] {
                             if (auto* dialog = qobject_cast<QDialog*>(guard.data());
                                 dialog && dialog->isVisible())
                                 dialog->reject();
                         });
                     });
    poll->start();
}

} // namespace telvar::test
