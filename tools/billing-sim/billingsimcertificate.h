#pragma once

#include <memory>

#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTemporaryDir>

// A throwaway certificate for 127.0.0.1, made when the simulator starts and gone with it, so that
// the simulator can serve HTTPS that a client trusts only when it is given this certificate.
// Qt reads certificates and keys but cannot make them; the openssl command does. Making one per
// run keeps private keys and expiry dates out of the repository.
class BillingSimCertificate final
{
public:
    // Writes the certificate and its key into folder, or into a temporary folder of its own
    // (removed with this object) when folder is empty.
    [[nodiscard]] bool generate(const QString &folder = QString(), QString *error = nullptr);

    // The certificate in PEM, self-signed and marked as its own authority: the file a client
    // adds to its CA list.
    [[nodiscard]] QString certificateFile() const;
    [[nodiscard]] QSslCertificate certificate() const { return m_certificate; }
    [[nodiscard]] QSslKey key() const { return m_key; }

private:
    std::unique_ptr<QTemporaryDir> m_temporary;
    QString m_folder;
    QSslCertificate m_certificate;
    QSslKey m_key;
};
