#pragma once

#include "engine/routerosengine.h"

#include <functional>

#include <QHostAddress>
#include <QObject>

class QTimer;
class QUdpSocket;

// The simulated router's neighbour discovery (MNDP): it announces itself to one loopback address
// and port at a steady pace, and answers a discovery request sent to its own port with an
// announcement to the sender. It never broadcasts: targets off the loopback are refused.
class MndpAnnouncer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MndpAnnouncer)

public:
    using InfoSource = std::function<NeighbourInfo()>;

    explicit MndpAnnouncer(InfoSource info, QObject *parent = nullptr);
    ~MndpAnnouncer() override;

    // The address announced as the router's IPv4 address (empty: none announced).
    void setAnnouncedAddress(const QString &ipv4) { m_announcedAddress = ipv4; }

    // Announces to target:targetPort every intervalMs (a null target: only answers requests), and
    // listens for requests on 127.0.0.1:listenPort (0 picks a free port).
    [[nodiscard]] bool start(const QHostAddress &target, quint16 targetPort, int intervalMs,
                             quint16 listenPort = 0, QString *error = nullptr);
    [[nodiscard]] quint16 listenPort() const;
    [[nodiscard]] int announcementsSent() const { return m_sent; }

    // One announcement in MNDP's wire form.
    [[nodiscard]] static QByteArray encode(const NeighbourInfo &info, const QString &ipv4,
                                           quint16 sequence);

    // "127.0.0.1:5678" into its parts; false for anything else or a non-loopback host.
    [[nodiscard]] static bool parseTarget(const QString &text, QHostAddress *host, quint16 *port);

private:
    void announce(const QHostAddress &to, quint16 port);
    void answerRequests();

    InfoSource m_info;
    QString m_announcedAddress = QStringLiteral("127.0.0.1");
    QUdpSocket *m_socket = nullptr;
    QTimer *m_timer = nullptr;
    QHostAddress m_target;
    quint16 m_targetPort = 0;
    quint16 m_sequence = 0;
    int m_sent = 0;
};
