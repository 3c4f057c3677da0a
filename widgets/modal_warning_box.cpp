#include "widgets/modal_warning_box.h"

#include <QMessageBox>

namespace orvik {

void ModalWarningBox::show(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace orvik
