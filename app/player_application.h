// Starting the player: either hand the request to a player that already runs, or create the
// delegate, pass it the files named on the command line as requests to open a document, and
// let it build the interface.
#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

#include "app/single_instance.h"

class VistrelAppDelegate;

class PlayerApplication : public QObject {
    Q_OBJECT
  public:
    explicit PlayerApplication(QObject *parent = nullptr);
    ~PlayerApplication() override;

    // `files`: the command line's arguments after the program name (Qt's own options already
    // taken out). Returns false when a running player took the request; this process then has
    // nothing more to do.
    bool launch(const QStringList &files, const QString &serverName = SingleInstance::defaultServerName());

    VistrelAppDelegate *delegate() const { return delegate_.get(); }

  private:
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<VistrelAppDelegate> delegate_;
};
