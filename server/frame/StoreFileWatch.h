#pragma once
// Notices every change of the small files the server keeps in memory (the
// user store, the phonebook) when someone edits them beside the server: in
// place, appended, or replaced by a rename, whatever the file system's time
// resolution. The system's notices come at once; a look every second
// catches what they miss (a file replaced while it was not watched).

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <string>
#include <vector>

namespace velora::server::frame {

class StoreFileWatch : public QObject {
    Q_OBJECT
public:
    explicit StoreFileWatch(QObject *parent = nullptr);

    // Starts watching the file; what it holds now counts as seen.
    void watch(const std::string &path);
    // Compares each file with what was seen last; emits for each that differs.
    void check();

    static constexpr int CheckIntervalMs = 1000;

signals:
    void changed(const std::string &path);

private:
    struct Seen {
        std::string path;
        std::string stamp;
    };
    std::vector<Seen> files_;
    QFileSystemWatcher watcher_;
    QTimer timer_;
};

}  // namespace velora::server::frame
