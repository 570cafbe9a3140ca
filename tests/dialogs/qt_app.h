// The test program's QApplication, created by its main().
#pragma once

class QApplication;
QApplication& TestApp();
