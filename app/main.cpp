// recorderplayer [FILE...]: plays recorder files (DV4, DV5, AVC).
#include <QApplication>

#include "app/player_application.h"
#include "app/settings/user_settings.h"

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    nameApplicationAndAdoptEarlierSettings();
    QStringList files = QApplication::arguments();
    if (!files.isEmpty()) files.removeFirst();
    PlayerApplication player;
    if (!player.launch(files)) return 0;
    return QApplication::exec();
}
