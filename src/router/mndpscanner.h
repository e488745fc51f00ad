#pragma once

#include "mndp.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;
class QUdpSocket;

// Listens for router announcements for a while after one discovery request, and reports each
// router once. QUILLMOR_MNDP_TARGET ("host:port") names where the request goes and the port to
// listen on; without it the request is broadcast and the listening port is 5678.
class MndpScanner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MndpScanner)

public:
    explicit MndpScanner(QObject *parent = nullptr);
    ~MndpScanner() override;

    // Where the request goes and the port listened on, from the environment. False, with one
    // sentence in *error, for a value that is not "host:port" with an IPv4 host.
    [[nodiscard]] static bool target(QHostAddress *host, quint16 *port, QString *error = nullptr);

    // Starts listening for durationMs. False, with one sentence in *error, when the port cannot be
    // opened or the target is wrong; a scan that is already running is left alone.
    [[nodiscard]] bool start(int durationMs, QString *error = nullptr);
    void stop();
    [[nodiscard]] bool isScanning() const;
    [[nodiscard]] QList<MndpNeighbour> neighbours() const { return m_found; }

signals:
    void neighbourFound(const MndpNeighbour &neighbour);
    void finished();

private:
    void readPending();

    QUdpSocket *m_socket = nullptr;
    QTimer *m_timer = nullptr;
    QList<MndpNeighbour> m_found;
};
