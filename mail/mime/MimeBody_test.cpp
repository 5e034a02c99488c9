#include "MimeBody.h"
#include "MailCoders.h"
#include "MimeHeaders.h"
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tv::mail {
namespace {

TEST(MailHeaders, ReadsPastMimeVersionWithoutCaseAndUnfolds) {
    MailHeaders h = ReadMailHeaders("mime-version: 1.0\r\nfrom: A <a@b>\r\nSUBJECT: long\r\n folded\r\n"
                                    "Content-Type: text/plain; charset=us-ascii\r\nMessage-ID: <1@x>\r\n"
                                    "Date: today\r\nTo: c@d\r\nReturn-Path: <r@s>\r\n\r\nbody\r\n");
    EXPECT_TRUE(h.mime);
    EXPECT_EQ(h.from, "A <a@b>");
    EXPECT_EQ(h.subject, "long folded");
    EXPECT_EQ(h.messageId, "<1@x>");
    EXPECT_EQ(h.date, "today");
    EXPECT_EQ(h.to, "c@d");
    EXPECT_EQ(h.returnPath, "<r@s>");
    EXPECT_EQ(h.body, "Content-Type: text/plain; charset=us-ascii\r\n\r\nbody\r\n");
}

TEST(MailHeaders, PlainLetter) {
    MailHeaders h = ReadMailHeaders("From: a\nSubject: s\n\nline1\nline2");
    EXPECT_FALSE(h.mime);
    EXPECT_EQ(h.subject, "s");
    EXPECT_EQ(h.body, "line1\nline2");
}

TEST(ContentType, TypeAndParameters) {
    ContentType t = ParseContentType(" text/plain; charset=\"iso-8859-1\"");
    EXPECT_EQ(t.type, "text/plain");
    EXPECT_EQ(t.boundary, "");
    EXPECT_EQ(t.name, "");
    t = ParseContentType("multipart/mixed; boundary=\"a;b\"; charset=x");
    EXPECT_EQ(t.boundary, "a;b");
    EXPECT_EQ(ParseContentType("application/octet-stream; NAME = \"f.bin\" ").name, "f.bin");
}

TEST(ZvMimeBody, PlainTextLineEndsAndTheOneSplit) {
    ZvMimeBody text;
    text.AddPlainText("a\nb");
    EXPECT_EQ(text.PlainText(), "a\r\nb");
    text.AddPlainText("ignored");
    EXPECT_EQ(text.PlainText(), "a\r\nb");

    ZvMimeBody short899;
    short899.AddPlainText(std::string(899, 'x'));
    EXPECT_EQ(short899.PlainText().size(), 899u);

    ZvMimeBody noBlanks;
    noBlanks.AddPlainText(std::string(1500, 'x'));
    EXPECT_EQ(noBlanks.PlainText(), std::string(900, 'x') + "\r\n" + std::string(600, 'x'));

    ZvMimeBody blanks;
    std::string words = std::string(700, 'w') + " " + std::string(799, 'v');
    blanks.AddPlainText(words);
    EXPECT_EQ(blanks.PlainText(), std::string(700, 'w') + "\r\n " + std::string(799, 'v'));
}

TEST(ZvMimeBody, BuiltMultipartParsesBackToTextAndAttachments) {
    ZvMimeBody built;
    built.AddPlainText("Hello\nthere\n");
    std::string binary;
    for (int i = 0; i < 300; ++i)
        binary += static_cast<char>(i * 7);
    built.AttachBytes("data.bin", binary);
    built.AttachBytes("empty.txt", "");
    std::string text = built.MultipartText();
    EXPECT_EQ(text.rfind("MIME-Version: 1.0\r\nContent-Type: "
                         "multipart/mixed;\r\n\tboundary=\"----_=_NextPart_000_01C10958.F1642A10\"",
                         0),
              0u);
    const std::string closing = "\r\n\r\n------_=_NextPart_000_01C10958.F1642A10--";
    EXPECT_EQ(text.substr(text.size() - closing.size()), closing);

    MailHeaders headers = ReadMailHeaders("From: x\r\n" + text);
    ASSERT_TRUE(headers.mime);
    ZvMimeBody parsed;
    parsed.Parse(headers.body);
    EXPECT_EQ(parsed.PlainText(), "Hello\r\nthere\r\n\r\n\r\n");
    ASSERT_EQ(parsed.Attachments().size(), 2u);
    EXPECT_EQ(parsed.Attachments()[0].name, "data.bin");
    EXPECT_EQ(parsed.Attachments()[1].name, "empty.txt");
    EXPECT_EQ(parsed.Attachments()[1].data, "");
    std::string path = ::testing::TempDir() + "mime_store_test.bin";
    ASSERT_TRUE(parsed.StoreAttachment(0, path));
    std::ifstream in(path, std::ios::binary);
    std::stringstream stored;
    stored << in.rdbuf();
    EXPECT_EQ(stored.str(), binary);
    EXPECT_FALSE(parsed.StoreAttachment(2, path));
    std::remove(path.c_str());
}

TEST(MimeParser, TextPartsSkipTheirHeadersAndAreDecoded) {
    std::string body =
        "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n--XX\r\n"
        "content-type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "caf=E9 soft=\r\nbreak\r\n--XX\r\nContent-Type: application/pdf\r\n"
        "Content-Disposition: attachment; filename=\"doc.pdf\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
        "raw 8 bit\r\n--XX--\r\n";
    MimeParser parser;
    parser.Parse(body);
    EXPECT_EQ(parser.PlainText(), "caf\xE9 softbreak\r\n");
    ASSERT_EQ(parser.Attachments().size(), 1u);
    EXPECT_EQ(parser.Attachments()[0].name, "doc.pdf");
    ZvMimeBody holder;
    holder.Parse(body);
    std::string path = ::testing::TempDir() + "mime_8bit_test.bin";
    EXPECT_TRUE(holder.StoreAttachment(0, path)) << "8bit is stored like an unencoded attachment";
    std::remove(path.c_str());
}

TEST(MimeParser, TwoTransferEncodingsDropTheAttachmentAndStop) {
    std::string body =
        "Content-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\nContent-Type: application/x; name=a\r\n"
        "Content-Transfer-Encoding: base64\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\n--B\r\n"
        "Content-Type: application/x; name=b\r\n\r\nzzz\r\n--B--\r\n";
    MimeParser parser;
    parser.Parse(body);
    EXPECT_TRUE(parser.Attachments().empty());
    EXPECT_FALSE(parser.Done());
}

TEST(MimeParser, SinglePartBase64Text) {
    MailHeaders h = ReadMailHeaders("MIME-Version: 1.0\r\nContent-Type: text/plain\r\n"
                                    "Content-Transfer-Encoding: base64\r\n\r\n" +
                                    Base64Encode("plain words\r\n"));
    MimeParser parser;
    parser.Parse(h.body);
    EXPECT_EQ(parser.PlainText(), "plain words\r\n");
}

// RFC 2045: a MIME letter without a Content-Type is text/plain, its transfer encoding applied.
TEST(MimeParser, ALetterWithoutContentTypeIsPlainText) {
    auto text = [](const std::string& letter) {
        ZvMimeBody body;
        body.Parse(ReadMailHeaders(letter).body);
        EXPECT_TRUE(body.Attachments().empty());
        return body.PlainText();
    };
    const std::string typed = text("MIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\nhello\r\nworld\r\n");
    EXPECT_EQ(typed.rfind("hello\r\nworld\r\n", 0), 0u);
    EXPECT_EQ(text("MIME-Version: 1.0\r\nSubject: bare\r\n\r\nhello\r\nworld\r\n"), typed);
    EXPECT_EQ(text("Subject: qp\r\nMIME-Version: 1.0\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                   "\r\nhel=\r\nlo\r\nworld\r\n"),
              typed);
}

// An attachment in an encoding we cannot decode keeps its bytes as they arrived; one that cannot
// be written is reported, never passed over as stored.
TEST(ZvMimeBody, AnAttachmentOfUnknownEncodingIsStoredAsItArrived) {
    const std::string uuencoded = "begin 644 a.txt\r\n#86)C\r\n`\r\nend";
    ZvMimeBody body;
    body.Parse(
        "Content-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\nsee\r\n"
        "--B\r\nContent-Type: application/octet-stream; name=\"a.txt\"\r\n"
        "Content-Transfer-Encoding: x-uuencode\r\n\r\n" +
        uuencoded + "\r\n--B--\r\n");
    ASSERT_EQ(body.Attachments().size(), 1u);
    const std::string path = ::testing::TempDir() + "mime_uuencode_test.bin";
    ASSERT_TRUE(body.StoreAttachment(0, path));
    std::ifstream stored(path, std::ios::binary);
    std::stringstream content;
    content << stored.rdbuf();
    stored.close();
    EXPECT_EQ(content.str(), uuencoded);
    std::remove(path.c_str());
    EXPECT_FALSE(body.StoreAttachment(0, ::testing::TempDir() + "no such folder/mime_test.bin"));
}

} // namespace
} // namespace tv::mail
