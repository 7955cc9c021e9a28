// pwcapture: opens the footprint station, shows the sole preview and the upper-camera mosaic,
// saves the images and shows the four measurements.
#include <QApplication>

#include "dialog.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Dialog dialog;
    dialog.show();
    return application.exec();
}
