#pragma once
// The sentences a new report starts from: the examination conditions, one eye sentence per
// map type carrying the keratometric figures that the map module's Visualizar computed, and the
// conclusion. "#n#" marks the gaps the operator fills from the phrase catalogue.
#include <QByteArray>
#include <QChar>
#include <QDate>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

#include "modules/ModuleContract.h"

namespace norvix {

// The separators numbers are written with: the report is read by people, in Portuguese ("," and
// "."), whatever notation the program keeps for its files.
struct TNotacao {
    QChar decimal = QLatin1Char(',');
    QChar milhar = QLatin1Char('.');
};

// "#,##0.00;(#,##0.00)": two decimals, thousands grouped, a negative value in parentheses.
QString FormatoF(double valor, TNotacao notacao = {});
// The shortest general form (up to 15 significant digits, no trailing zeros): 90, 87,5.
QString FormatoG(double valor, TNotacao notacao = {});

// The nine values Visualizar fills for one exam.
using TValoresMapa = std::array<double, 9>;
// The values of one call of Visualizar when they may stand in a report: the call returned 1,
// the six values the sentences print are numbers, and the record is not left as it was handed
// over (all zero: no cornea has meridians of 0 D). Otherwise none, and the report says so.
std::optional<TValoresMapa> ValoresDoMapa(int retorno, const double (&resultado)[9]);

enum class TipoMapa { Axial = 0, Tangencial = 1 };

// The two lines of the examination conditions.
QStringList FrasesCondicoes();
// The eye sentence of the map type. Without values (the map module could not compute them for
// this exam) each figure is left as a blank line for the physician, never another exam's.
QString FraseOlho(TipoMapa tipo, const std::optional<TValoresMapa>& valores, TNotacao notacao = {});
// The conclusion with its 16 gaps.
QString FraseConclusao();

// Beyond the generated sentences of a normal eye: when the map module's screening is "Suspeito"
// or "Compatível com ceratocone", the eye's box gets this sentence with the indices (empty for
// any other screening), and the conclusion this line naming the eyes (empty when neither).
QString FraseCeratocone(const TIndicesCeratocone& indices, TNotacao notacao = {});
QString ConclusaoCeratocone(const std::optional<TIndicesCeratocone>& od, const std::optional<TIndicesCeratocone>& os);

// The eye box's line for the patient's latest tear-film exam of that eye:
// "Filme lacrimal (dd/MM/yyyy): Tempo de ruptura não invasivo: ...". Empty when the stored
// result cannot be read (the report then says nothing rather than something wrong).
QString FraseFilmeLacrimal(const QDate& data, const QByteArray& resultadoJson);

// What stands in the eye sentence in place of a figure that could not be computed. Not a
// "#" gap: the gaps are addressed by position, and seven of them come from the catalogue.
inline constexpr const char* kSemValor = "____";

}  // namespace norvix
