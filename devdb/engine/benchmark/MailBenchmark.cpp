#include "MailBenchmark.h"
#include "Connection.h"
#include "Record.h"

namespace tv::devdb::benchmark {

namespace {

enum MailField { kSubject, kFlags, kDate, kSize, kBox, kTo, kFrom };

RecordFormat MailFormat() {
    RecordFormat format;
    format.AddField("Subject", kTypeText, 0);
    format.AddField("Flags", kTypeDword, 0);
    format.AddField("Date", kTypeDword, 0);
    format.AddField("Size", kTypeDword, 0);
    format.AddField("Box", kTypeFixedText, 16);
    format.AddField("To", kTypeListText, 0);
    format.AddField("From", kTypeListText, 0);
    return format;
}

} // namespace

Letter LetterNumber(int n) {
    Letter letter;
    letter.subject = "Re: quarterly figures, part " + std::to_string(n) + " of the series";
    letter.to = "recipient" + std::to_string(n % 97) + "@example.com";
    letter.from = "sender" + std::to_string(n % 31) + "@example.org";
    letter.box = n % 5 == 0 ? "Outbox" : "Inbox";
    letter.flags = static_cast<uint32_t>(n % 4);
    letter.date = 0x60000000u + static_cast<uint32_t>(n) * 61;
    letter.size = 1000u + static_cast<uint32_t>(n % 5000);
    return letter;
}

EngineFigures RunEngine(DbPlatform& platform, const std::string& folder) {
    EngineFigures figures;
    Engine engine(platform);
    auto connection = engine.Open(folder + "email.db");
    if (!connection || !connection->CatalogOf().AddTable("Mail", MailFormat(), 65536, 65536, 0))
        return figures;
    auto table = connection->CatalogOf().TableByName("Mail");
    figures.tableFile = table->Path();

    Stopwatch adding;
    for (int n = 1; n <= kRecords; ++n) {
        const Letter letter = LetterNumber(n);
        auto cursor = connection->OpenNullCursor(table);
        auto record = cursor ? cursor->Add() : nullptr;
        if (!record || !record->SetText(kSubject, letter.subject) ||
            !record->SetNumber(kFlags, kTypeDword, letter.flags) ||
            !record->SetNumber(kDate, kTypeDword, letter.date) ||
            !record->SetNumber(kSize, kTypeDword, letter.size) || !record->SetText(kBox, letter.box) ||
            !record->SetText(kTo, letter.to) || !record->SetText(kFrom, letter.from) || !record->Commit())
            return figures;
        record->Release();
        cursor->Close();
    }
    figures.commitSeconds = adding.Seconds();

    // The mail synchronizer's kind of walk: the letters of one box with a flag set, texts read.
    Stopwatch scanning;
    auto cursor = connection->OpenConditionCursor(table, [](const std::shared_ptr<Record>& record) {
        std::string box, subject;
        uint32_t flags = 0;
        return record->GetText(kBox, box) && box == "Inbox" && record->GetNumber(kFlags, kTypeDword, flags) &&
               flags == 1 && record->GetText(kSubject, subject) && !subject.empty();
    });
    figures.scanSeconds = scanning.Seconds();
    if (!cursor)
        return figures;
    figures.selected = static_cast<int>(cursor->RowCount());
    cursor->Close();
    figures.ok = engine.Close(*connection);
    return figures;
}

} // namespace tv::devdb::benchmark
