// The patient grid's pages: whatever way the list is walked (down from the start, up from the
// end, around a jump), it holds exactly the rows of the browser's statements, in their order,
// also with names shared by several patients.
#include <gtest/gtest.h>

#include "db/DbTestSupport.h"
#include "exams/PatientGrid.h"

using norvix::TPatientGridModel;

namespace {

using Filter = TPatientGridModel::Filter;

class PatientGrid : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        ana = insertMedico("Ana");
        beto = insertMedico("Beto");
        // 260 patients over three pages, with repeated names and some without exams.
        const QStringList stems = {"Zé", "Álvaro", "Maria", "maria", "O'Neil", "Maria"};
        for (int i = 0; i < 260; ++i) {
            const QString name = stems[i % stems.size()] + (i % 7 == 0 ? QString() : QStringLiteral(" %1").arg(i % 40));
            const int exams = i % 5 == 0 ? 0 : 1;
            const int p = insertPaciente(name, exams);
            if (exams) insertExame(p, i % 3 == 0 ? beto : ana, QDate(2024, 1, 1).addDays(i), QTime(8, 0, 0));
        }
    }
    // The codes the browser's original statements give, in their order.
    std::vector<int> expected(Filter filter, bool byName) {
        const QString order = byName ? "Nome Asc, Codigo Asc" : "Codigo Asc";
        QString sql = "SELECT Codigo FROM Pacientes ORDER BY " + order;
        norvix::FbParams params;
        if (filter == Filter::SemExames) {
            sql = "SELECT Codigo FROM Pacientes WHERE Pacientes.TotalExames=:TotalExames ORDER BY " + order;
            params = {{"TotalExames", 0}};
        } else if (filter == Filter::Medico) {
            sql = "Select DISTINCT(Pacientes.Nome), Pacientes.Codigo FROM Exames JOIN Pacientes ON Exames.CodPaciente = "
                  "Pacientes.Codigo WHERE CodResp=:CodigoMedico Order by " +
                  (byName ? QString("Pacientes.Nome Asc, Pacientes.Codigo Asc") : QString("Pacientes.Codigo Asc"));
            params = {{"CodigoMedico", ana}};
        }
        std::vector<int> out;
        norvix::FbQuery& q = dm->openQuery(dm->IBOperation, sql, params);
        for (; !q.eof(); q.next()) out.push_back(q.asInt("CODIGO"));
        q.close();
        return out;
    }
    static std::vector<int> codes(const TPatientGridModel& m) {
        std::vector<int> out;
        for (int r = 0; r < m.rowCount(); ++r) out.push_back(m.codeAt(r));
        return out;
    }
    int ana = 0, beto = 0;
};

}  // namespace

TEST_F(PatientGrid, WalkingDownOrUpGivesTheStatementsRowsInTheirOrder) {
    for (Filter filter : {Filter::Todos, Filter::SemExames, Filter::Medico}) {
        for (bool byName : {true, false}) {
            SCOPED_TRACE(testing::Message() << int(filter) << " " << byName);
            const std::vector<int> want = expected(filter, byName);
            ASSERT_FALSE(want.empty());
            TPatientGridModel down;
            down.reset(filter, ana, byName);
            EXPECT_LE(down.rowCount(), TPatientGridModel::kPage);
            while (down.canFetchMore({})) down.fetchMore({});
            EXPECT_EQ(codes(down), want);

            TPatientGridModel up;
            up.reset(filter, ana, byName);
            EXPECT_EQ(up.jumpToEnd(), int(want.size()) - 1 < TPatientGridModel::kPage ? int(want.size()) - 1
                                                                                     : TPatientGridModel::kPage - 1);
            while (!up.atStart()) up.fetchBefore();
            EXPECT_EQ(codes(up), want);
        }
    }
}

TEST_F(PatientGrid, JumpsLandOnTheFirstMatchAndTheRowsAroundItStayInOrder) {
    const std::vector<int> want = expected(Filter::Todos, true);
    TPatientGridModel m;
    m.reset(Filter::Todos, 0, true);
    const int row = m.jumpToPrefix("Zé 3");
    ASSERT_GE(row, 0);
    EXPECT_TRUE(m.nameAt(row).startsWith("Zé 3"));
    // Case-sensitive: "maria" is not "Maria".
    const int lower = m.jumpToPrefix("maria");
    EXPECT_TRUE(m.nameAt(lower).startsWith("maria"));
    EXPECT_EQ(m.jumpToPrefix("Xx"), -1);
    EXPECT_TRUE(m.nameAt(lower).startsWith("maria"));  // nothing moved
    // Ignoring case, the first in list order.
    const int exact = m.jumpToName("O'NEIL 4");
    ASSERT_GE(exact, 0);
    EXPECT_EQ(m.nameAt(exact), "O'Neil 4");
    // Around the jump, the rows are a stretch of the whole list, and they grow both ways.
    const int code = m.codeAt(exact);
    while (!m.atStart()) m.fetchBefore();
    while (m.canFetchMore({})) m.fetchMore({});
    EXPECT_EQ(codes(m), want);
    EXPECT_EQ(m.codeAt(m.rowOfCode(code)), code);
    EXPECT_EQ(m.jumpToCode(-5), -1);
}
