#include "app/kestrow_app.h"

// The one application object, constructed before main() runs.
static CKestrowApp theApp;

int main(int argc, char** argv) {
    return theApp.Run(argc, argv);
}
