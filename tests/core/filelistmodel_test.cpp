// The list's rows: the path index kept in step, reading and writing rows,
// sorting, and the model's contract checked by QAbstractItemModelTester.
#include "compare.h"
#include "filelistmodel.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QtTest>

using namespace tinsoke;

namespace {

TLVData row(const QString &name, const QString &size, const QString &path,
            const QString &jpegtran = QString())
{
    TLVData r;
    r.FileName = name;
    r.Size = size;
    r.Path = path;
    r.field(tinsoke::toolInfo(tinsoke::Tool::Jpegtran).column) = jpegtran;
    return r;
}

QStringList column(const FileListModel &m, int c)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out.append(m.ReadRow(r).field(c));
    return out;
}

} // namespace

class FileListModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Names that differ only in letter case are different files here; on
    // Windows they are one.
    void duplicatesByPathAsTheSystemComparesNames()
    {
        FileListModel m;
        QAbstractItemModelTester tester(&m);
        m.addFiles({QStringLiteral("/p/A.JPG"), QStringLiteral("/p/a.jpg"),
                    QStringLiteral("/p/A.JPG"), QStringLiteral("/p/x.gif"),
                    QStringLiteral("/p/ÄÖ.png"), QStringLiteral("/p/äö.PNG")});
#ifdef Q_OS_WIN
        const QStringList expected{QStringLiteral("/p/A.JPG"), QStringLiteral("/p/ÄÖ.png")};
#else
        const QStringList expected{QStringLiteral("/p/A.JPG"), QStringLiteral("/p/a.jpg"),
                                   QStringLiteral("/p/ÄÖ.png"), QStringLiteral("/p/äö.PNG")};
#endif
        QCOMPARE(column(m, 10), expected);
        QCOMPARE(m.ReadRow(0).FileName, QStringLiteral("A.JPG"));

        // A second drop leaves the first row as it was.
        TLVData changed = m.ReadRow(0);
        changed.field(tinsoke::toolInfo(tinsoke::Tool::Jpegtran).column) = QStringLiteral("5");
        m.WriteRow(0, changed);
        m.addFiles({QStringLiteral("/p/A.JPG")});
        QCOMPARE(m.rowCount(), expected.size());
        QCOMPARE(m.ReadRow(0).field(tinsoke::toolInfo(tinsoke::Tool::Jpegtran).column),
                 QStringLiteral("5"));
    }

    void indexStaysInStepWithTheRows()
    {
        FileListModel m;
        QAbstractItemModelTester tester(&m);
        m.addFiles({QStringLiteral("/a.png"), QStringLiteral("/b.png"), QStringLiteral("/c.png")});
        m.removeRowsAt({1});
        QVERIFY(!m.isListed(QStringLiteral("/b.png")));
        m.addFiles({QStringLiteral("/b.png")});
        QCOMPARE(column(m, 10).last(), QStringLiteral("/b.png"));

        // Writing a row with no row given appends, even a listed path; the
        // path stays listed until its last row goes.
        const int appended = m.WriteRow(-1, m.ReadRow(0));
        QCOMPARE(appended, 3);
        QCOMPARE(m.rowCount(), 4);
        m.removeRowsAt({0});
        QVERIFY(m.isListed(QStringLiteral("/a.png")));
        m.removeRowsAt({m.rowCount() - 1});
        QVERIFY(!m.isListed(QStringLiteral("/a.png")));

        // A row written with another path moves in the index too.
        TLVData moved = m.ReadRow(0);
        moved.Path = QStringLiteral("/moved.png");
        m.WriteRow(0, moved);
        QVERIFY(m.isListed(QStringLiteral("/moved.png")));
        QVERIFY(!m.isListed(QStringLiteral("/c.png")));

        m.clear();
        QCOMPARE(m.rowCount(), 0);
        QVERIFY(!m.isListed(QStringLiteral("/moved.png")));
        m.addFiles({QStringLiteral("/moved.png")});
        QCOMPARE(m.rowCount(), 1);
    }

    void readAndWriteRows()
    {
        FileListModel m;
        QAbstractItemModelTester tester(&m);
        const TLVData empty = m.ReadRow(-1);
        for (int c = 0; c < TLVData::FieldCount; ++c)
            QVERIFY(empty.field(c).isEmpty());
        QVERIFY(m.ReadRow(0).Path.isEmpty());

        TLVData r = row(QStringLiteral("a.png"), QStringLiteral("10"), QStringLiteral("/a.png"));
        r.field(tinsoke::toolInfo(tinsoke::Tool::cPNGC).column) = QStringLiteral("7");
        QCOMPARE(m.WriteRow(-1, r), 0);
        QCOMPARE(m.data(m.index(0, 9)).toString(), QStringLiteral("7"));
        QCOMPARE(m.data(m.index(0, 10)).toString(), QStringLiteral("/a.png"));

        // The caption, and only the caption, can be edited in place.
        QVERIFY(m.flags(m.index(0, 0)) & Qt::ItemIsEditable);
        QVERIFY(!(m.flags(m.index(0, 1)) & Qt::ItemIsEditable));
        QVERIFY(m.setData(m.index(0, 0), QStringLiteral("renamed.png")));
        QVERIFY(!m.setData(m.index(0, 10), QStringLiteral("/other.png")));
        QCOMPARE(m.ReadRow(0).FileName, QStringLiteral("renamed.png"));
        QCOMPARE(m.ReadRow(0).Path, QStringLiteral("/a.png"));
    }

    void sortingFollowsEachColumnsKind()
    {
        FileListModel m;
        QAbstractItemModelTester tester(&m);
        m.WriteRow(
            -1, row(QStringLiteral("b_x.png"), QStringLiteral("30"), QStringLiteral("/Z/1.png")));
        m.WriteRow(-1, row(QStringLiteral("BA.png"), QStringLiteral(" 3221225472 "),
                           QStringLiteral("/a/2.png"), QStringLiteral("9")));
        m.WriteRow(-1, row(QStringLiteral("é.png"), QStringLiteral("x1"),
                           QStringLiteral("/É/3.png"), QStringLiteral("-4")));
        m.WriteRow(-1, row(QStringLiteral("b.png"), QStringLiteral("2147483647"),
                           QStringLiteral("/é/0.png")));

        m.sortBy(1, true); // Size, largest first; "x1" counts as 0
        QCOMPARE(column(m, 0), (QStringList{QStringLiteral("BA.png"), QStringLiteral("b.png"),
                                            QStringLiteral("b_x.png"), QStringLiteral("é.png")}));
        m.sortBy(1, false);
        QCOMPARE(column(m, 0).first(), QStringLiteral("é.png"));

        m.sortBy(0, false); // a-z folded: "BA" < "B_X" as 'A' < '_'; "b.png" is a prefix-wise "B."
        QCOMPARE(column(m, 0), (QStringList{QStringLiteral("b.png"), QStringLiteral("BA.png"),
                                            QStringLiteral("b_x.png"), QStringLiteral("é.png")}));

        m.sortBy(2, false); // an empty tool cell counts as 0
        QCOMPARE(column(m, 2),
                 (QStringList{QStringLiteral("-4"), QString(), QString(), QStringLiteral("9")}));
        m.sortBy(2, true);
        QCOMPARE(column(m, 2).first(), QStringLiteral("9"));
        QCOMPARE(column(m, 2).last(), QStringLiteral("-4"));

        m.sortBy(10, false); // the whole path lower-cased, non-ASCII letters too
        QCOMPARE(column(m, 10),
                 (QStringList{QStringLiteral("/a/2.png"), QStringLiteral("/Z/1.png"),
                              QStringLiteral("/é/0.png"), QStringLiteral("/É/3.png")}));
    }

    void captionComparison()
    {
        const auto cmp = [](const char *a, const char *b) {
            return compareRows(row(QString::fromUtf8(a), {}, {}), row(QString::fromUtf8(b), {}, {}),
                               0);
        };
        QCOMPARE(cmp("abc", "ABC"), 0);
        QVERIFY(cmp("ab", "abc") < 0);      // a prefix first
        QVERIFY(cmp("a_", "aZ") > 0);       // underscore after letters
        QVERIFY(cmp("é", "É") != 0);        // only a-z fold
        QCOMPARE(cmp("a", "b"), 'A' - 'B'); // the difference of the folded units
    }

    void selectionStaysWithItsRowsThroughASort()
    {
        FileListModel m;
        for (int i = 0; i < 5; ++i)
            m.WriteRow(
                -1, row(QString::number(i), QString::number(i), QStringLiteral("/%1.png").arg(i)));
        QItemSelectionModel selection(&m);
        selection.select(m.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection.setCurrentIndex(m.index(3, 0), QItemSelectionModel::NoUpdate);
        m.sortBy(1, true);
        QCOMPARE(selection.selectedRows().size(), 1);
        QCOMPARE(m.ReadRow(selection.selectedRows().first().row()).FileName, QStringLiteral("1"));
        QCOMPARE(m.ReadRow(selection.currentIndex().row()).FileName, QStringLiteral("3"));
    }

    // A run's results land in their rows' columns: a stop leaves the row as
    // it was, the memory's rows say so in their chain's columns, and a row
    // passed over keeps no size from an earlier run, the user's tools' too.
    void runResultsLandInTheirColumns()
    {
        FileListModel m;
        m.setExtraColumns({QStringLiteral("mine")});
        const int own = TLVData::FieldCount;
        const int optipng = toolInfo(Tool::OptiPNG).column;
        const int advpng = toolInfo(Tool::AdvPNG).column;
        for (int i = 0; i < 4; ++i) {
            TLVData r = row(QStringLiteral("%1.png").arg(i), QStringLiteral("100"),
                            QStringLiteral("/%1.png").arg(i), QStringLiteral("70"));
            r.field(optipng) = QStringLiteral("90");
            r.field(own) = QStringLiteral("80");
            m.WriteRow(-1, r);
        }
        const std::array<QList<int>, 2> chains{QList<int>{}, QList<int>{optipng, own}};
        QList<RowResult> results(4);
        for (int i = 0; i < 4; ++i)
            results[i].row = i;
        results[0].outcome = RowResult::Outcome::Stopped;
        results[1].outcome = RowResult::Outcome::Remembered;
        results[2].outcome = RowResult::Outcome::PassedOver;
        results[3].steps = {{optipng, 60}, {own, std::nullopt}};
        m.applyResults(results, chains);

        QCOMPARE(column(m, optipng), (QString::fromUtf8("90|記憶済み||60").split(u'|')));
        QCOMPARE(column(m, own),
                 (QString::fromUtf8("80|記憶済み||80").split(u'|'))); // did not start
        QCOMPARE(column(m, advpng), (QString::fromUtf8("|||").split(u'|')));
        QCOMPARE(column(m, 2),
                 (QString::fromUtf8("70|70||70").split(u'|'))); // Jpegtran's, no chain of it
    }
};

QTEST_GUILESS_MAIN(FileListModelTest)
#include "filelistmodel_test.moc"
