// The review station's clerk accounts: stored hashed, kept apart, managed from the command
// line without a password ever shown; and the schema step that brings them to an old database.

#include "desk/Clerks.h"
#include "tests/support/desk_fixture.h"
#include "tests/support/file_bytes.h"

TEST_F(DeskTest, ClerksAreStoredAsArgon2idHashesAndVerifiedAgainstThem) {
    desk::CDatabase db(db_.string());
    desk::CClerks clerks(db);
    EXPECT_FALSE(clerks.Any());
    clerks.Add("anna.berg", "Lange-Passphrase-1");
    clerks.Add("ben", "noch-ein-Passwort");
    EXPECT_TRUE(clerks.Any());
    EXPECT_EQ((std::vector<std::string>{"anna.berg", "ben"}), clerks.Names());
    const std::optional<std::string> hash = clerks.Hash("anna.berg");
    ASSERT_TRUE(hash);
    EXPECT_EQ(0u, hash->rfind("$argon2id$", 0)) << *hash;
    EXPECT_TRUE(desk::CClerks::Verify(*hash, "Lange-Passphrase-1"));
    EXPECT_FALSE(desk::CClerks::Verify(*hash, "lange-Passphrase-1"));
    EXPECT_FALSE(desk::CClerks::Verify(*hash, "noch-ein-Passwort"));  // another clerk's password
    EXPECT_FALSE(desk::CClerks::Verify(*hash, ""));
    EXPECT_FALSE(clerks.Hash("anna"));

    // A name is taken once; bad names and short passwords are refused with nothing stored.
    EXPECT_THROW(clerks.Add("ben", "anderes-Passwort"), desk::CClerkError);
    EXPECT_TRUE(desk::CClerks::Verify(*clerks.Hash("ben"), "noch-ein-Passwort"));
    for (const std::string& bad : {std::string(), std::string("a b"), std::string("<script>"), std::string(65, 'a'),
                                   std::string("\xC3\xA4rger")})
        EXPECT_THROW(clerks.Add(bad, "gutes-Passwort"), desk::CClerkError) << bad;
    EXPECT_THROW(clerks.Add("kurz", "1234567"), desk::CClerkError);
    EXPECT_THROW(clerks.Add("lang", std::string(desk::CClerks::kMaxPassword + 1, 'x')), desk::CClerkError);
    EXPECT_EQ(2u, clerks.Names().size());

    EXPECT_TRUE(clerks.Remove("ben"));
    EXPECT_FALSE(clerks.Remove("ben"));
    EXPECT_EQ((std::vector<std::string>{"anna.berg"}), clerks.Names());
}

TEST_F(DeskTest, ClerkCommandsTakeThePasswordFromStandardInputAndNeverShowIt) {
    const std::string password = "Sehr-Geheim-42";
    const std::filesystem::path input = Write("password.txt", password + "\n");
    int status = -1;
    const std::string added = RunCli("clerk add carla < " + input.string(), &status);
    EXPECT_EQ(0, status) << added;
    EXPECT_EQ(std::string::npos, added.find(password)) << added;
    EXPECT_EQ("carla\n", RunCli("clerk list", &status));
    const std::string again = RunCli("clerk add carla < " + input.string(), &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, again.find("already")) << again;
    EXPECT_EQ(std::string::npos, again.find(password)) << again;
    // Neither the database nor its log holds the password in clear.
    for (const char* suffix : {"", "-wal"})
        EXPECT_EQ(std::string::npos, FileBytes(db_.string() + suffix).find(password)) << suffix;
    {
        desk::CDatabase db(db_.string());
        EXPECT_TRUE(desk::CClerks::Verify(*desk::CClerks(db).Hash("carla"), password));
    }
    const std::string empty = Write("empty.txt", "").string();
    RunCli("clerk add dora < " + empty, &status);
    EXPECT_EQ(1, status);
    RunCli("clerk remove carla", &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ("", RunCli("clerk list", &status));
    const std::string missing = RunCli("clerk remove carla", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, missing.find("no clerk named carla")) << missing;
}

TEST_F(DeskTest, ADatabaseOfTheSchemaBeforeTheStationGainsItsTablesAndKeepsItsRegistrations) {
    Write("mail.eml", SoundMail(3));
    ASSERT_EQ(1u, Import({dir_ / "mail.eml"}).added);
    {
        // Back to the schema before the review station, as a velkdesk of that time left it.
        desk::CDatabase db(db_.string());
        db.Exec("DROP TABLE clerk; DROP TABLE lease; DROP TABLE correction; ALTER TABLE registration DROP COLUMN record_text;"
                " ALTER TABLE registration DROP COLUMN record_text_size; PRAGMA user_version = 3;");
    }
    desk::CDatabase db(db_.string());
    desk::CClerks(db).Add("erik", "Passwort-fuer-Erik");
    EXPECT_EQ(1u, desk::CClerks(db).Names().size());
    EXPECT_TRUE(db.TakeLease(1, "erik", 1000, 60));
    EXPECT_TRUE(db.Corrections(1).empty());
    ASSERT_EQ(1u, Rows().size());
    ExpectSameFields(corpus::SampleRecord(3), Rows()[0].record);
}
