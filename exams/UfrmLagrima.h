#pragma once
// The tear-film (NIBUT) exam window: the patient, the eye and the date; the first and mean
// break-up times with the altered flag, the blink, the break-time map with its legend and the
// broken area over time. A new result is shown with Gravar and Descartar; a stored exam with
// Fechar. Also the small dialog in which the operator chooses the eye and the doctor.
#include <QDialog>

#include "records/UDLagrima.h"
#include "tearfilm/TearFilm.h"

class QLabel;
class QPushButton;
class QComboBox;

namespace norvix {

class TfrmLagrima : public QDialog {
    Q_OBJECT
public:
    enum class Modo { Novo, Gravado };
    TfrmLagrima(const TExameLagrima& exame, const lagrima::TearFilmResult& result, const QString& paciente, Modo modo,
                QWidget* parent = nullptr);

    // A new result: true when the operator pressed Gravar.
    static bool decide(QWidget* parent, const QString& paciente, const TExameLagrima& exame,
                       const lagrima::TearFilmResult& result);
    // A stored exam read by its code and shown; messages when it is gone or its result unreadable.
    static void mostra(QWidget* parent, int codigo, const QString& paciente);
    // The eye (0 left, 1 right) and the doctor, from the list given; false when cancelled.
    static bool escolheOlho(QWidget* parent, const QStringList& medicos, int* olho, QString* medico);

    // Texts as the operator reads them (also for the report and the tests).
    static QString segundos(double s);  // "6,2 s"

protected:
    // A new result is not given up by Esc, the close button or Descartar without the operator's
    // word: the patient sat through the test for it.
    void reject() override;

private:
    Modo modo_;
    void buildUi(const TExameLagrima& exame, const lagrima::TearFilmResult& result, const QString& paciente, Modo modo);
};

}  // namespace norvix
