// Whole runs over real files: the optimizers Debian ships, and small fake
// tools that stand in for the others and for tools that misbehave.
#include "batchtesthost.h"
#include "commandline.h"
#include "filelistmodel.h"
#include "intake.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

using namespace tinsoke;

namespace {

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

qint64 sizeOf(const QString &path)
{
    return QFileInfo(path).size();
}

// A picture with room for the optimizers: stored with little compression.
void makeImage(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(96, 64, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 96, 64);
    g.setColorAt(0, Qt::darkBlue);
    g.setColorAt(1, Qt::yellow);
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    p.drawEllipse(10, 10, 40, 30);
    p.end();
    const bool png = path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
    QVERIFY2(image.save(path, png ? "PNG" : "JPEG", png ? 100 : 95), qPrintable(path));
}

QString fakeTool(const QString &folder, const QString &name, const QByteArray &body)
{
    const QString path = folder + u'/' + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + body + "\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

ToolSetting tool(const QString &exe, const QString &options = QString())
{
    return {true, exe, options};
}

QString real(const char *name)
{
    const QString path = QStringLiteral("/usr/bin/") + QString::fromLatin1(name);
    return QFileInfo::exists(path) ? path : QString();
}

} // namespace

class BatchTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp; // the run's TEMP
    QTemporaryDir work;
    QString fakes;

    QStringList tempLeftovers() const
    {
        return QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    QString at(const QString &relative) const { return work.filePath(relative); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TEMP", QFile::encodeName(temp.path()));
        fakes = at(QStringLiteral("fakes"));
        QDir().mkpath(fakes);
    }
    void cleanup()
    {
        QDir(at(QStringLiteral("files"))).removeRecursively();
        QVERIFY2(tempLeftovers().isEmpty(), qPrintable(tempLeftovers().join(u' ')));
    }

    void realToolsUnderEachSaveMethod_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("in place") << 0;
        QTest::newRow("copy beside") << 1;
        QTest::newRow("result folder") << 2;
    }
    void realToolsUnderEachSaveMethod()
    {
        QFETCH(int, method);
        for (const char *t : {"jpegtran", "jpegoptim", "advpng", "optipng", "pngcrush"}) {
            if (real(t).isEmpty())
                QSKIP("the Debian optimizers are not installed");
        }
        const QString folder = at(QStringLiteral("files/写真 it's [1] (x) 😀"));
        const QString png = folder + QStringLiteral("/a b.png");
        const QString jpg = folder + QStringLiteral("/C.JPG");
        makeImage(png);
        makeImage(jpg);
        const QByteArray pngBefore = bytesOf(png);
        const QByteArray jpgBefore = bytesOf(jpg);
        const QImage pixels(png);

        FileListModel list;
        list.addFiles({png, jpg});
        RunSnapshot s;
        s[int(Tool::Jpegtran)] = tool(real("jpegtran"), jpegtranOptions({}));
        s[int(Tool::Jpegoptim)] = tool(real("jpegoptim"), jpegoptimOptions({}));
        s[int(Tool::AdvPNG)] = tool(real("advpng"), advPngOptions({false, {}, 2}));
        s[int(Tool::OptiPNG)] = tool(real("optipng"), optiPngOptions({false, {}, 2}));
        s[int(Tool::PNGCrush)] = tool(real("pngcrush"), pngCrushOptions({}));
        TestBatchHost host;
        host.method = method;
        runBatch(list, host, [&] { return s; });

        const QString resultFolder = folder + QStringLiteral("/Result_Tinsoke");
        const QString pngOut = method == 0   ? png
                               : method == 1 ? folder + QStringLiteral("/a b_.png")
                                             : resultFolder + QStringLiteral("/a b.png");
        const QString jpgOut = method == 0   ? jpg
                               : method == 1 ? folder + QStringLiteral("/C_.JPG")
                                             : resultFolder + QStringLiteral("/C.JPG");
        if (method != 0) { // the listed files are not touched
            QCOMPARE(bytesOf(png), pngBefore);
            QCOMPARE(bytesOf(jpg), jpgBefore);
        }
        QCOMPARE(QDir(resultFolder).exists(), method == 2);

        const TLVData p = list.ReadRow(0);
        QCOMPARE(p.Size, QString::number(pngBefore.size())); // as listed, never updated
        QVERIFY(p.AdvPNGSize.toLongLong() > 0);
        QVERIFY(p.OptiPNGSize.toLongLong() < pngBefore.size());
        QVERIFY(p.PNGCrushSize.toLongLong() <= p.OptiPNGSize.toLongLong());
        QCOMPARE(p.PNGCrushSize, QString::number(sizeOf(pngOut)));
        QVERIFY(p.JpegtranSize.isEmpty() && p.PNGOutSize.isEmpty());
        QCOMPARE(QImage(pngOut).convertToFormat(QImage::Format_RGB32), pixels); // lossless

        const TLVData j = list.ReadRow(1);
        QCOMPARE(j.FileName, QStringLiteral("C.JPG")); // capitals: still the JPEG chain
        QVERIFY(!j.JpegtranSize.isEmpty());
        QVERIFY(j.JpegoptimSize.toLongLong() <= jpgBefore.size());
        QCOMPARE(j.JpegoptimSize, QString::number(sizeOf(jpgOut)));
        QVERIFY(!QImage(jpgOut).isNull());
        QVERIFY(!QFileInfo::exists(jpgOut + QStringLiteral(".jpg")));
        QVERIFY(host.passedOver.isEmpty());
        QVERIFY(host.startFailures.isEmpty());
    }

    void jpegtranResultKeptOnlyWhenSmaller()
    {
        if (real("jpegtran").isEmpty())
            QSKIP("jpegtran is not installed");
        // Debian's jpegtran takes its output file by -outfile; this wrapper
        // gives it the input and output files the command line names.
        const QString twoFile =
            fakeTool(fakes, QStringLiteral("jpegtran2"),
                     "for a; do in=\"$out\"; out=\"$a\"; done\n"
                     "exec /usr/bin/jpegtran -copy none -optimize -outfile \"$out\" \"$in\"");
        const QString same =
            fakeTool(fakes, QStringLiteral("same"),
                     "for a; do in=\"$out\"; out=\"$a\"; done; cp \"$in\" \"$out\"");
        const QString jpg = at(QStringLiteral("files/p.jpg"));
        makeImage(jpg);
        const QByteArray before = bytesOf(jpg);

        FileListModel list;
        list.addFiles({jpg});
        RunSnapshot s;
        s[int(Tool::Jpegtran)] = tool(same, jpegtranOptions({}));
        TestBatchHost host;
        runBatch(list, host, [&] { return s; });
        QCOMPARE(bytesOf(jpg), before); // equal size: the output goes, the file stays
        QVERIFY(!QFileInfo::exists(jpg + QStringLiteral(".jpg")));
        QCOMPARE(list.ReadRow(0).JpegtranSize, QString::number(before.size()));

        s[int(Tool::Jpegtran)] = tool(twoFile, jpegtranOptions({}));
        runBatch(list, host, [&] { return s; });
        QVERIFY(sizeOf(jpg) < before.size());
        QVERIFY(!QImage(jpg).isNull());
        QCOMPARE(list.ReadRow(0).JpegtranSize, QString::number(sizeOf(jpg)));
        QVERIFY(!QFileInfo::exists(jpg + QStringLiteral(".jpg")));

        // A file of the user's at the output name: Jpegtran is passed over, the file kept.
        const QByteArray mine("the user's own file");
        QFile own(jpg + QStringLiteral(".jpg"));
        own.open(QIODevice::WriteOnly);
        own.write(mine);
        own.close();
        TLVData row = list.ReadRow(0);
        row.JpegtranSize = QStringLiteral("earlier");
        list.WriteRow(0, row);
        s[int(Tool::Jpegoptim)] = tool(real("jpegoptim"), jpegoptimOptions({}));
        TestBatchHost again;
        runBatch(list, again, [&] { return s; });
        QCOMPARE(bytesOf(jpg + QStringLiteral(".jpg")), mine);
        QCOMPARE(list.ReadRow(0).JpegtranSize, QStringLiteral("earlier"));
        QVERIFY(!list.ReadRow(0).JpegoptimSize.isEmpty()); // the chain went on
        QCOMPARE(again.passedOver.size(), 1);
        QVERIFY(again.passedOver.first().contains(jpg + QStringLiteral(".jpg")));
    }

    void faultyToolsNeverHurtTheUsersFile_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("startable");
        QTest::newRow("exits without output") << QByteArray("exit 0") << true;
        QTest::newRow("writes a larger file")
            << QByteArray("head -c 200000 /dev/urandom > \"$out\"") << true;
        QTest::newRow("writes an empty file") << QByteArray(": > \"$out\"") << true;
        QTest::newRow("writes smaller garbage") << QByteArray("printf garbage > \"$out\"") << true;
        QTest::newRow("writes a cut-off png")
            << QByteArray("head -c 300 \"$in\" > \"$out\"") << true;
        QTest::newRow("crashes") << QByteArray("kill -SEGV $$") << true;
        QTest::newRow("fails with a code") << QByteArray("exit 3") << true;
        QTest::newRow("sleeps") << QByteArray("sleep 1") << true;
        QTest::newRow("cannot be started") << QByteArray() << false;
    }
    void faultyToolsNeverHurtTheUsersFile()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, startable);
        // The fault stands in for cPNGC's slot; PNGOUT and PNGRewrite fakes
        // record that the chain went on.
        const QString log = at(QStringLiteral("files/log"));
        QDir().mkpath(at(QStringLiteral("files")));
        // The last two arguments are the input and the output file.
        const QString faulty = fakeTool(fakes, QStringLiteral("faulty"),
                                        "for a; do in=\"$out\"; out=\"$a\"; done\n" + script);
        if (!startable)
            QFile::setPermissions(faulty, QFile::ReadOwner | QFile::WriteOwner);
        const QByteArray record = "echo \"$(basename \"$0\") $1\" >> '" + log.toUtf8() + "'";
        const QString pngout = fakeTool(fakes, QStringLiteral("pngout"), record);
        const QString rewrite = fakeTool(fakes, QStringLiteral("pngrewrite"), record);

        const QString a = at(QStringLiteral("files/a.png"));
        const QString b = at(QStringLiteral("files/b.png"));
        makeImage(a);
        makeImage(b);
        const QByteArray aBefore = bytesOf(a);
        const QByteArray bBefore = bytesOf(b);
        FileListModel list;
        list.addFiles({a, b});
        RunSnapshot s;
        s[int(Tool::PNGCrush)] = tool(faulty, QStringLiteral("-x"));
        s[int(Tool::PNGOUT)] = tool(pngout);
        s[int(Tool::PNGRewrite)] = tool(rewrite);
        s[int(Tool::cPNGC)] = tool(faulty);
        TestBatchHost host;
        runBatch(list, host, [&] { return s; });

        QCOMPARE(bytesOf(a), aBefore);
        QCOMPARE(bytesOf(b), bBefore);
        QCOMPARE(QString::fromUtf8(bytesOf(log)),
                 QStringLiteral("pngout %1\npngrewrite %1\npngout %2\npngrewrite %2\n").arg(a, b));
        for (int r = 0; r < 2; ++r) {
            const TLVData row = list.ReadRow(r);
            QCOMPARE(row.PNGCrushSize, row.Size);
            QCOMPARE(row.cPNGCSize, row.Size);
        }
        QCOMPARE(host.startFailures.size(), startable ? 0 : 4); // every attempt, every row
        if (!startable)
            QCOMPARE(host.startFailures.first(), QStringLiteral("実行できません (13)"));
    }

    void copiesTakeFreeNamesAndKeepTheirTimes()
    {
        const QString a = at(QStringLiteral("files/a.png"));
        const QString xy = at(QStringLiteral("files/x.y.jpg"));
        makeImage(a);
        makeImage(xy);
        QFile taken(at(QStringLiteral("files/a_.png")));
        taken.open(QIODevice::WriteOnly);
        taken.write("someone else's");
        taken.close();
        const QDateTime old =
            QDateTime::fromString(QStringLiteral("2001-02-03T04:05:06"), Qt::ISODate);
        QFile source(a);
        source.open(QIODevice::ReadWrite);
        QVERIFY(source.setFileTime(old, QFileDevice::FileModificationTime));
        source.close();
        QFile::setPermissions(a, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);

        FileListModel list;
        list.addFiles({a, xy});
        TestBatchHost host;
        host.method = 1;
        runBatch(list, host, [] { return RunSnapshot{}; }); // no tool ticked
        const QString copy = at(QStringLiteral("files/a__.png"));
        QCOMPARE(bytesOf(copy), bytesOf(a));
        QCOMPARE(bytesOf(at(QStringLiteral("files/a_.png"))), QByteArray("someone else's"));
        QVERIFY(QFileInfo::exists(at(QStringLiteral("files/x.y_.jpg"))));
        QCOMPARE(QFileInfo(copy).lastModified(), old);
        QCOMPARE(QFile::permissions(copy) & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        // Every row visited and written back unchanged.
        QCOMPARE(list.ReadRow(0).Path, a);
        QVERIFY(list.ReadRow(0).OptiPNGSize.isEmpty());
    }

    void resultFoldersAndSameNames()
    {
        const QString a = at(QStringLiteral("files/one/a.png"));
        const QString other = at(QStringLiteral("files/two/a.png"));
        makeImage(a);
        makeImage(other);
        QFile mark(other);
        mark.open(QIODevice::Append);
        mark.write("!"); // tell the two apart
        mark.close();
        FileListModel list;
        list.addFiles({a, other});
        for (int run = 0; run < 3; ++run) {
            TestBatchHost host;
            host.method = 2;
            runBatch(list, host, [] { return RunSnapshot{}; });
            QVERIFY(host.passedOver.isEmpty());
        }
        const QString root = at(QStringLiteral("files/one/"));
        for (const char *folder : {"Result_Tinsoke", "Result_Tinsoke_", "Result_Tinsoke__"}) {
            const QString f = root + QString::fromLatin1(folder);
            QCOMPARE(bytesOf(f + QStringLiteral("/a.png")), bytesOf(a));
            QCOMPARE(bytesOf(f + QStringLiteral("/a_.png")), bytesOf(other));
        }
    }

    void rowsThatCannotBePreparedArePassedOverAndToldOnce()
    {
        const QString a = at(QStringLiteral("files/sub/a.png"));
        const QString b = at(QStringLiteral("files/b.png"));
        makeImage(a);
        makeImage(b);
        const QString log = at(QStringLiteral("files/log"));
        const QString rec =
            fakeTool(fakes, QStringLiteral("rec"), "echo \"$1\" >> '" + log.toUtf8() + "'");
        RunSnapshot s;
        s[int(Tool::OptiPNG)] = tool(rec);

        // No save method: nothing runs, every row is named once in one message.
        FileListModel list;
        list.addFiles({a, b});
        TestBatchHost none;
        none.method = -1;
        runBatch(list, none, [&] { return s; });
        QVERIFY(!QFileInfo::exists(log));
        QCOMPARE(none.passedOver.size(), 1);
        QVERIFY(none.passedOver.first().contains(a) && none.passedOver.first().contains(b));
        QVERIFY(list.ReadRow(0).OptiPNGSize.isEmpty());

        // A copy that cannot be made: that row is passed over, the next goes on.
        list.clear();
        list.addFiles({at(QStringLiteral("files/gone.png")), b});
        TestBatchHost beside;
        beside.method = 1;
        runBatch(list, beside, [&] { return s; });
        QCOMPARE(QString::fromUtf8(bytesOf(log)), at(QStringLiteral("files/b_.png")) + u'\n');
        QCOMPARE(beside.passedOver.size(), 1);
        QVERIFY(beside.passedOver.first().contains(QStringLiteral("gone.png")));
        QVERIFY(!beside.passedOver.first().contains(QStringLiteral("b.png")));

        // A result folder that cannot be made (its place is gone): reported once.
        QFile::remove(log);
        QDir(at(QStringLiteral("files/sub"))).removeRecursively();
        list.clear();
        list.addFiles({a, b});
        TestBatchHost folder;
        folder.method = 2;
        runBatch(list, folder, [&] { return s; });
        QVERIFY(!QFileInfo::exists(log));
        QCOMPARE(folder.passedOver.size(), 1);
        QVERIFY(folder.passedOver.first().contains(QStringLiteral("結果フォルダを作成できません")));
    }

    void chainFollowsTheExtensionAndTheTickBoxes()
    {
        const QString log = at(QStringLiteral("files/log"));
        QDir().mkpath(at(QStringLiteral("files")));
        const QString rec = fakeTool(fakes, QStringLiteral("rec"),
                                     "echo \"$(basename \"$0\")\" >> '" + log.toUtf8() + "'");
        const QString png = at(QStringLiteral("files/p.png"));
        makeImage(png);
        FileListModel list;
        list.addFiles({png});
        TLVData row = list.ReadRow(0);
        row.FileName = QStringLiteral("renamed.txt"); // edited caption: no chain
        row.AdvPNGSize = QStringLiteral("earlier");
        list.WriteRow(0, row);
        RunSnapshot s;
        s[int(Tool::AdvPNG)] = tool(rec);
        s[int(Tool::OptiPNG)] = tool(rec);
        TestBatchHost host;
        runBatch(list, host, [&] { return s; });
        QVERIFY(host.lines.isEmpty());
        QCOMPARE(list.ReadRow(0).AdvPNGSize, QStringLiteral("earlier"));

        row.FileName = QStringLiteral("p.png");
        list.WriteRow(0, row);
        host.unavailable = {Tool::AdvPNG}; // ticked, but its executable was not found
        runBatch(list, host, [&] { return s; });
        QCOMPARE(host.lines.size(), 1);
        QCOMPARE(list.ReadRow(0).AdvPNGSize, QStringLiteral("earlier"));
        QCOMPARE(list.ReadRow(0).OptiPNGSize, QString::number(sizeOf(png)));
    }

    void progressForThreeRowsAndForNone()
    {
        FileListModel list;
        TestBatchHost empty;
        bool snapshotTaken = false;
        runBatch(list, empty, [&] {
            snapshotTaken = true;
            return RunSnapshot{};
        });
        QCOMPARE(empty.progress, (QList<std::tuple<int, int, int>>{{0, 0, 0}}));
        QVERIFY(!snapshotTaken);

        for (const char *n : {"files/1.png", "files/2.png", "files/3.png"})
            makeImage(at(QString::fromLatin1(n)));
        list.addFiles({at(QStringLiteral("files/1.png")), at(QStringLiteral("files/2.png")),
                       at(QStringLiteral("files/3.png"))});
        TestBatchHost three;
        runBatch(list, three, [] { return RunSnapshot{}; });
        QCOMPARE(three.progress, (QList<std::tuple<int, int, int>>{
                                     {0, 3, 0}, {0, 3, 0}, {0, 3, 1}, {0, 3, 2}, {0, 1, 1}}));
    }

    void temporaryNames()
    {
        const QString first = MakeTempPath();
        QVERIFY(first.startsWith(temp.path() + u'/'));
        const QString name = QFileInfo(first).fileName();
        QVERIFY(name.endsWith(QStringLiteral(".tmp")));
        QVERIFY(!name.contains(u':') && !name.contains(u'/'));
        QVERIFY(name.contains(QString::number(QDate::currentDate().day())));

        // A name taken by a file (or a link) is not given out; the next second's is.
        QFile taken(first);
        taken.open(QIODevice::WriteOnly);
        taken.close();
        const QString second = MakeTempPath();
        QVERIFY(second != first);
        QFile::remove(first);

        const QByteArray saved = qgetenv("TEMP");
        qunsetenv("TEMP");
        qputenv("TMPDIR", QFile::encodeName(work.path()));
        QVERIFY(MakeTempPath().startsWith(work.path() + u'/'));
        qunsetenv("TMPDIR");
        QVERIFY(!temporaryFolder().isEmpty() && temporaryFolder() != QStringLiteral("/"));
        qputenv("TEMP", saved);
    }

    void replacingKeepsTheWorkingFilesPermissions()
    {
        const QString png = at(QStringLiteral("files/w.png"));
        makeImage(png);
        QFile::setPermissions(png, QFile::ReadOwner | QFile::WriteOwner);
        const QString candidate = at(QStringLiteral("files/c.png"));
        QImage(png).save(candidate, "PNG", 0); // the same picture, smaller
        QVERIFY(sizeOf(candidate) < sizeOf(png));
        QCOMPARE(KeepIfSmaller(png, candidate, ImageKind::Png), KeepOutcome::Replaced);
        QVERIFY(!QFileInfo::exists(candidate));
        QCOMPARE(QFile::permissions(png) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(!QImage(png).isNull());
        QCOMPARE(QDir(at(QStringLiteral("files"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("w.png")});
        // A missing candidate or working file: nothing at all happens.
        QCOMPARE(KeepIfSmaller(png, candidate, ImageKind::Png), KeepOutcome::NothingToDo);
    }
};

QTEST_GUILESS_MAIN(BatchTest)
#include "batch_test.moc"
