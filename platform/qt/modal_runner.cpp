#include "platform/qt/modal_runner.h"

namespace platform {

namespace {
ModalRunner& CurrentRunner() {
    static ModalRunner runner;
    return runner;
}
}  // namespace

int RunModal(QDialog& dialog) {
    if (CurrentRunner()) {
        return CurrentRunner()(dialog);
    }
    return dialog.exec();
}

void SetModalRunner(ModalRunner runner) {
    CurrentRunner() = std::move(runner);
}

}  // namespace platform
