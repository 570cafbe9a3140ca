// One QApplication for the whole test program.
#pragma once

class QApplication;
QApplication& TestApp();
