// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/CommandFrame.h"

std::optional<QByteArray> commandFrame(int argument, std::uint8_t code)
{
    if (argument < 0 || argument > 255)
        return std::nullopt;
    QByteArray frame(3, '\0');
    frame[0] = char(Frame::StartMarker);
    frame[1] = char(argument);
    frame[2] = char(code);
    return frame;
}

QByteArray writeStartFrame()
{
    return *commandFrame(Frame::WriteArgument, CommandCode::WriteStart);
}

QByteArray nextBlockFrame()
{
    return *commandFrame(Frame::WriteArgument, CommandCode::NextBlock);
}

QByteArray streamFrame()
{
    return *commandFrame(Frame::StreamArgument, CommandCode::Stream);
}

QByteArray stopByte()
{
    return QByteArray(1, char(Frame::StopByte));
}
