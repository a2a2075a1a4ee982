#include "scan/decisions.h"

#include <QJsonArray>

#include "engine/review.h"
#include "journal/journal.h"
#include "platform/db/db.h"
#include "ui/texts.h"

namespace dupsweep::scan {

void addDecisions(QJsonObject& root, TdmDupsweep& dm, const DiscoveryResult& result,
                  const std::string& taskCode, std::int32_t level, bool all) {
  const std::string database = db::databaseIdentity(dm.ConnectionString());
  std::vector<Decision> decisions;
  try {
    decisions = journal::Journal(journal::defaultPath(), journal::Journal::Mode::ReadOnly)
                    .decisions(database);
  } catch (const JournalError& e) {
    throw Error("the review decisions cannot be read: " + texts::journalFailure(e));
  }
  QJsonArray pairs = root.value("pairs").toArray();
  for (int p = 0; p < pairs.size() && static_cast<std::size_t>(p) < result.pairs.size(); ++p) {
    QJsonObject pair = pairs[p].toObject();
    for (const QString& kind : pair.keys()) {
      if (!pair.value(kind).isArray()) continue;
      QJsonArray kept;
      for (const QJsonValue& item : pair.value(kind).toArray()) {
        QJsonObject entry = item.toObject();
        const std::string code = entry.value("code").toString().toStdString();
        int sheet = -1;
        for (std::size_t s = 0; s < result.sheets.size() && sheet < 0; ++s)
          if (result.sheets[s].sSampleCode == code) sheet = static_cast<int>(s);
        Mark mark = Mark::Pending;
        if (sheet >= 0) {
          Finding finding{p, sheet, kind.toStdString(), entry.value("cells").toInt(), {}};
          // A finding against another period names it; discovery of one period names none.
          for (const char* key : {"against", "period"})
            if (entry.value(key).isString())
              finding.againstPeriod = entry.value(key).toString().toStdString();
          mark = reviewFinding(dm, result, decisions, database, taskCode, level, finding).mark;
        }
        if (mark == Mark::Legitimate && !all) continue;
        entry.insert("decision", QString::fromLatin1(markToken(mark)));
        kept.append(entry);
      }
      pair.insert(kind, kept);
    }
    pairs[p] = pair;
  }
  root.insert("pairs", pairs);
}

}  // namespace dupsweep::scan
