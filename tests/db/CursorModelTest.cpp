// The grid model over a cursor: paging, texts in the program's notation, the current row.
#include <QAbstractItemModelTester>

#include "DbTestSupport.h"
#include "records/CursorModel.h"

using namespace norvix;
using dbtest::DbTest;

namespace {

class Grid : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        for (int i = 1; i <= 250; ++i) {
            FbParams p = dbtest::pacienteTexts(QStringLiteral("PACIENTE %1").arg(i, 3, 10, QLatin1Char('0')));
            p.push_back({"DtCadastro", QDate(2024, 5, 6)});
            p.push_back({"TotalExames", i % 3});
            dm->execProcedure(QString::fromLatin1(dbtest::kInsertPacientes), p,
                              TDMPrincipal::Commit::No);
        }
        dm->PCommitDataBase();
        dm->openQuery(dm->IBQueryBuscaPac,
                      "SELECT Codigo, Nome, DtCadastro FROM Pacientes ORDER BY Codigo");
    }
};

TEST_F(Grid, PagesThroughTheRowsAsTheViewAsks) {
    CursorModel model(&dm->IBQueryBuscaPac);
    EXPECT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.rowCount(), CursorModel::kPage);
    EXPECT_TRUE(model.canFetchMore(QModelIndex()));
    model.fetchMore(QModelIndex());
    EXPECT_EQ(model.rowCount(), 200);
    model.fetchMore(QModelIndex());
    EXPECT_EQ(model.rowCount(), 250);
    EXPECT_FALSE(model.canFetchMore(QModelIndex()));
    EXPECT_EQ(model.data(model.index(249, 1)).toString(), "PACIENTE 250");
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), "06/05/2024");
    EXPECT_EQ(model.data(model.index(0, 0), Qt::EditRole).toInt(), 1);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "NOME");

    // Qt's own consistency checks (they page through everything themselves).
    dm->IBQueryBuscaPac.close();
    dm->IBQueryBuscaPac.open();
    CursorModel fresh(&dm->IBQueryBuscaPac);
    QAbstractItemModelTester tester(&fresh, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(fresh.rowCount(), 250);
}

TEST_F(Grid, CurrentRowFollowsTheCursorBothWays) {
    CursorModel model(&dm->IBQueryBuscaPac);
    EXPECT_EQ(model.currentRow(), 0);
    ASSERT_TRUE(model.setCurrentRow(42));
    EXPECT_EQ(dm->IBQueryBuscaPac.asInt("Codigo"), 43);
    dm->IBQueryBuscaPac.next();
    EXPECT_EQ(model.currentRow(), 43);
    EXPECT_FALSE(model.setCurrentRow(CursorModel::kPage));  // not shown yet
    EXPECT_FALSE(model.setCurrentRow(-1));
    EXPECT_EQ(dm->IBQueryBuscaPac.asInt("Codigo"), 44);
}

TEST_F(Grid, ChosenColumnsTitlesAndAClosedCursor) {
    CursorModel model(&dm->IBQueryBuscaPac);
    model.setColumns({"Nome", "Inexistente"}, {QStringLiteral("Nome do paciente")});
    EXPECT_EQ(model.columnCount(), 2);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Nome do paciente");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Inexistente");
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "PACIENTE 001");
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), "");

    dm->IBQueryBuscaPac.close();
    model.refresh();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.canFetchMore(QModelIndex()));
    EXPECT_EQ(model.currentRow(), -1);

    // A few rows only: no paging needed.
    dm->openQuery(dm->IBQueryBuscaPac, "SELECT Nome FROM Pacientes WHERE Codigo <= 3");
    model.setColumns({});
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_FALSE(model.canFetchMore(QModelIndex()));
}

}  // namespace
