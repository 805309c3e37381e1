#pragma once

// Pictures for whole runs: photo-like and screenshot-like images of a
// realistic size, with a colour profile, and the small helpers around them.

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>

inline QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// A picture with gradients, shapes, text and a noisy patch, stored with
// little compression so the optimizers have work; seed varies it.
inline QImage makePicture(int width, int height, quint32 seed = 1)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, width, height);
    g.setColorAt(0, QColor::fromHsv(int(seed * 37 % 360), 200, 120));
    g.setColorAt(1, Qt::yellow);
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    for (int i = 0; i < 12; ++i)
        p.drawEllipse(QRect(i * width / 14, i * height / 20, width / 5, height / 6));
    p.setFont(QFont(QStringLiteral("Sans"), 14));
    p.drawText(image.rect().adjusted(8, 8, -8, -8), Qt::TextWordWrap,
               QStringLiteral("Pelmora Tinsoke 画像の最適化 0123456789 ").repeated(6));
    p.end();
    QRandomGenerator random(seed);
    for (int y = height / 2; y < height / 2 + height / 6; ++y)
        for (int x = 0; x < width / 3; ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    image.setColorSpace(QColorSpace::SRgb); // stored as a colour profile
    return image;
}

inline bool savePicture(const QImage &image, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const bool png = !path.endsWith(QStringLiteral("jpg"), Qt::CaseInsensitive) &&
                     !path.endsWith(QStringLiteral("jpeg"), Qt::CaseInsensitive);
    return image.save(path, png ? "PNG" : "JPEG", png ? 100 : 92);
}

inline QString fakeTool(const QString &folder, const QString &name, const QByteArray &body)
{
    QDir().mkpath(folder);
    const QString path = folder + u'/' + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + body + "\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

inline QString realTool(const char *name)
{
    const QString path = QStringLiteral("/usr/bin/") + QString::fromLatin1(name);
    return QFileInfo::exists(path) ? path : QString();
}

// Whether any process whose command line holds marker still runs.
inline bool toolsRunning(const QString &marker)
{
    QProcess ps;
    ps.start(QStringLiteral("pgrep"), {QStringLiteral("-f"), marker});
    ps.waitForFinished();
    return !ps.readAllStandardOutput().trimmed().isEmpty();
}
