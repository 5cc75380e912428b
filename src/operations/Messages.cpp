// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/Messages.h"

#include <QRegularExpression>
#include <array>
#include <functional>

namespace {

using Kind = OperatorMessage::Kind;

struct Entry {
    MessageId id;
    Kind kind;
    QString title;
    // %1 the subject, %2 the reason, %3 the location.
    QString format;
};

const std::array<Entry, 22> &table()
{
    static const std::array<Entry, 22> entries{{
        {MessageId::WriteQuestion, Kind::Question, BoxTitle::Romivo, QStringLiteral("Scrivo il file selezionato su EPROM, sei sicuro ?")},
        {MessageId::ReadQuestion, Kind::Question, BoxTitle::Romivo, QStringLiteral("Leggo EPROM e scrivo sul file selezionato, sei sicuro ?")},
        {MessageId::Written, Kind::Result, BoxTitle::Application, QStringLiteral("CORRETTO")},
        {MessageId::WriteFailed, Kind::Result, BoxTitle::Application, QStringLiteral("ERRORE")},
        {MessageId::ReadDone, Kind::Result, BoxTitle::Application, QStringLiteral("TERMINATO")},
        {MessageId::ReadInterrupted, Kind::Failure, BoxTitle::Romivo, QStringLiteral("LETTURA INTERROTTA: IMPOSSIBILE SCRIVERE SUL FILE %1\n%2")},
        {MessageId::Verified, Kind::Result, BoxTitle::Romivo, QStringLiteral("VERIFICA ESEGUITA CORRETTAMENTE")},
        // One blank where a sign would stand: two blanks between the word and the digits.
        {MessageId::Differs, Kind::Failure, BoxTitle::Romivo, QStringLiteral("ERRORE al byte  %3")},
        {MessageId::Blank, Kind::Result, BoxTitle::Romivo, QStringLiteral("IL CHIP E' VUOTO")},
        {MessageId::NotBlank, Kind::Failure, BoxTitle::Romivo, QStringLiteral("IL CHIP NON E' VUOTO")},
        {MessageId::NoFileSelected, Kind::Failure, BoxTitle::Romivo, QStringLiteral("Nessun file selezionato")},
        {MessageId::NotWritable, Kind::Failure, BoxTitle::Romivo, QStringLiteral("IL FILE NON PUO' ESSERE SCRITTO: %1")},
        {MessageId::InvalidImage, Kind::Failure, BoxTitle::Romivo, QStringLiteral("FILE NON VALIDO: %1\n%2")},
        {MessageId::NoPortNamed, Kind::Failure, BoxTitle::Romivo, QStringLiteral("NESSUNA PORTA INDICATA")},
        {MessageId::PortNotValid, Kind::Failure, BoxTitle::Romivo, QStringLiteral("PORTA NON VALIDA: %1")},
        {MessageId::PortWontOpen, Kind::Failure, BoxTitle::Romivo, QStringLiteral("IMPOSSIBILE APRIRE LA PORTA %1\n%2")},
        {MessageId::PortLost, Kind::Failure, BoxTitle::Romivo, QStringLiteral("COLLEGAMENTO PERSO SULLA PORTA %1\n%2")},
        {MessageId::PortNotOpen, Kind::Failure, BoxTitle::Romivo, QStringLiteral("PORTA NON APERTA: I COMANDI NON VENGONO INVIATI. PREMERE CONNECT")},
        {MessageId::AddressRefused, Kind::Failure, BoxTitle::Romivo, QStringLiteral("INDIRIZZO NON VALIDO: SOLO DA -255 A 65535")},
        {MessageId::DataRefused, Kind::Failure, BoxTitle::Romivo, QStringLiteral("DATO NON VALIDO: SOLO DA 0 A 255")},
        {MessageId::ServiceReadTimeout, Kind::Failure, BoxTitle::Application, QStringLiteral("ERRORE RICEZIONE")},
        {MessageId::Stalled, Kind::Failure, BoxTitle::Application, QStringLiteral("FERMATO: NESSUN DATO DAL CHIP ALLA LOCAZIONE %3")},
    }};
    return entries;
}

const Entry &entry(MessageId id)
{
    return table()[static_cast<std::size_t>(id)];
}

const QRegularExpression &placeholder()
{
    static const QRegularExpression pattern(QStringLiteral("%[123]"));
    return pattern;
}

// The format with each placeholder replaced, in one pass (a path may itself hold "%2").
QString fill(const QString &format, const std::function<QString(QChar)> &value)
{
    QString out;
    qsizetype from = 0;
    for (const QRegularExpressionMatch &m : placeholder().globalMatch(format)) {
        out += format.mid(from, m.capturedStart() - from) + value(m.captured().at(1));
        from = m.capturedEnd();
    }
    return out + format.mid(from);
}

} // namespace

namespace Messages {

OperatorMessage message(MessageId id, const MessageDetail &detail)
{
    const Entry &e = entry(id);
    const QString text = fill(e.format, [&](QChar n) {
        return n == u'1' ? detail.subject : n == u'2' ? detail.reason : QString::number(detail.location);
    });
    return {e.kind, text, e.title};
}

std::optional<MessageId> forOutcome(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Written: return MessageId::Written;
    case Outcome::WriteFailed: return MessageId::WriteFailed;
    case Outcome::ReadDone: return MessageId::ReadDone;
    case Outcome::ReadInterrupted: return MessageId::ReadInterrupted;
    case Outcome::Verified: return MessageId::Verified;
    case Outcome::Differs: return MessageId::Differs;
    case Outcome::Blank: return MessageId::Blank;
    case Outcome::NotBlank: return MessageId::NotBlank;
    case Outcome::NoFileSelected: return MessageId::NoFileSelected;
    case Outcome::NotWritable: return MessageId::NotWritable;
    case Outcome::InvalidImage: return MessageId::InvalidImage;
    case Outcome::Stopped:
    case Outcome::NotStarted:
    case Outcome::Cancelled:
        break;
    }
    return std::nullopt;
}

} // namespace Messages
