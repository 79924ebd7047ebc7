// The review station's core: leases that two clerks never share and that run out by
// themselves, and corrections that are recorded and never overwrite a change made meanwhile.
#include <set>
#include <thread>

#include "tests/support/desk_fixture.h"

namespace {

desk::Registration NeedingReview(const std::string& key, const std::string& zip) {
    desk::Registration r;
    r.record.vorname = "Grete";
    r.record.zip = zip;
    r.record.password_1 = r.record.password_2 = "Kennwort-XY";
    r.channel = "fax";
    r.dedupKey = key;
    r.doubts = {desk::DoubtFromLine("zip: \"" + zip + "\" could as well be \"6" + zip.substr(1) + "\"")};
    return r;
}

}  // namespace

class ReviewTest : public DeskDbTest {
protected:

    // Registrations 1 to `count` need review; one more after them does not.
    void AddRegistrations(int count) {
        desk::CDatabase db(db_.string());
        for (int i = 1; i <= count; ++i) db.Add(NeedingReview("k" + std::to_string(i), "5066" + std::to_string(i % 10)));
        desk::Registration sound = NeedingReview("sound", "10115");
        sound.doubts.clear();
        db.Add(sound);
    }
};

TEST_F(ReviewTest, LeasesGiveEveryClerkAnotherRegistrationAndRunOutByThemselves) {
    AddRegistrations(3);
    desk::CDatabase db(db_.string());
    const std::int64_t t = 1000000;
    EXPECT_EQ(1, db.LeaseNext("anna", 0, t, 600));
    EXPECT_EQ(2, db.LeaseNext("ben", 0, t, 600));
    EXPECT_EQ(3, db.LeaseNext("carl", 0, t, 600));
    EXPECT_FALSE(db.LeaseNext("dora", 0, t, 600));  // the sound one is never handed out
    EXPECT_FALSE(db.TakeLease(1, "ben", t + 10, 600));
    EXPECT_EQ("anna", db.LeaseOf(1, t + 10)->clerk);
    // "Next" ends the clerk's lease and moves on, back to the start when nothing is after it.
    EXPECT_EQ(1, db.LeaseNext("anna", 1, t + 20, 600));
    EXPECT_TRUE(db.TakeLease(1, "anna", t + 30, 600));  // renewed by its holder
    // A lease left behind runs out: another clerk gets it then, the oldest first.
    EXPECT_FALSE(db.LeaseOf(2, t + 600));
    EXPECT_EQ(2, db.LeaseNext("dora", 0, t + 600, 600));
    EXPECT_TRUE(db.TakeLease(3, "dora", t + 600, 600));
    db.EndLeases("dora");
    EXPECT_FALSE(db.LeaseOf(2, t + 601));
    EXPECT_FALSE(db.LeaseOf(3, t + 601));
}

TEST_F(ReviewTest, ClerksAskingAtOnceOnTheirOwnConnectionsNeverShareALease) {
    AddRegistrations(12);
    std::vector<std::int64_t> got(8, 0);
    std::vector<std::thread> clerks;
    for (int c = 0; c < 8; ++c)
        clerks.emplace_back([this, c, &got] {
            desk::CDatabase db(db_.string());
            got[static_cast<std::size_t>(c)] = db.LeaseNext("clerk" + std::to_string(c), 0, 1000, 600).value_or(-1);
        });
    for (std::thread& t : clerks) t.join();
    const std::set<std::int64_t> distinct(got.begin(), got.end());
    EXPECT_EQ(8u, distinct.size());
    EXPECT_EQ(1, *distinct.begin());
    EXPECT_EQ(8, *distinct.rbegin());  // the eight oldest
}

TEST_F(ReviewTest, AReservationIsHeldForItsClerkUntilTakenAndRunsOutWhenLeft) {
    AddRegistrations(4);  // 5 needs no review
    desk::CDatabase db(db_.string());
    const std::int64_t t = 1000000;
    ASSERT_EQ(1, db.LeaseNext("anna", 0, t, 600));
    // Anna works on 1 and has 2 ready; her hold on 1 stays, and Ben's next passes over 2.
    EXPECT_EQ(2, db.ReserveNext("anna", 1, t, 120));
    EXPECT_EQ("anna", db.LeaseOf(1, t)->clerk);
    EXPECT_EQ(3, db.LeaseNext("ben", 0, t, 600));
    // Asked again (the page reloaded) it is the same; Ben's is another; nothing is left for Carl.
    EXPECT_EQ(2, db.ReserveNext("anna", 1, t + 5, 120));
    EXPECT_EQ(4, db.ReserveNext("ben", 3, t + 5, 120));
    EXPECT_FALSE(db.ReserveNext("carl", 0, t + 5, 120));
    // Nobody takes another's reservation; a refused choice changes nothing.
    EXPECT_FALSE(db.LeaseChosen("ben", 2, t + 10, 600));
    EXPECT_EQ("ben", db.LeaseOf(3, t + 10)->clerk);
    EXPECT_FALSE(db.LeaseChosen("ben", 5, t + 10, 600));  // needs no review
    // Anna's save of 1 takes 2 for the whole lease time and lets 1 go.
    EXPECT_TRUE(db.LeaseChosen("anna", 2, t + 10, 600));
    EXPECT_EQ(t + 610, db.LeaseOf(2, t + 10)->expiresAt);
    EXPECT_FALSE(db.LeaseOf(1, t + 10));
    // Ben leaves his page: his reservation of 4 runs out, Carl gets it, and Ben's save cannot take it.
    EXPECT_EQ(4, db.LeaseNext("carl", 3, t + 5 + 120, 600));
    EXPECT_FALSE(db.LeaseChosen("ben", 4, t + 200, 600));
    // A reservation is never the registration it is made beside, and comes round from the start.
    db.EndLeases("anna");
    db.EndLeases("ben");
    db.EndLeases("carl");
    EXPECT_EQ(3, db.ReserveNext("dora", 2, t + 300, 120));
    EXPECT_EQ(1, db.ReserveNext("erik", 4, t + 300, 120));
    // Reserving again beside another registration keeps only that one and the reservation.
    ASSERT_TRUE(db.TakeLease(4, "erik", t + 300, 600));
    EXPECT_EQ(1, db.ReserveNext("erik", 2, t + 301, 120));
    EXPECT_FALSE(db.LeaseOf(4, t + 301));
    // A registration the clerk holds for longer (open in another window) keeps its whole lease.
    ASSERT_TRUE(db.TakeLease(1, "erik", t + 302, 600));
    EXPECT_EQ(1, db.ReserveNext("erik", 3, t + 303, 120));
    EXPECT_EQ(t + 902, db.LeaseOf(1, t + 303)->expiresAt);
}

TEST_F(ReviewTest, ClerksReservingAndLeasingAtOnceNeverShareARegistration) {
    AddRegistrations(20);
    std::vector<std::int64_t> got(16, 0);
    std::vector<std::thread> clerks;
    for (int c = 0; c < 8; ++c)
        clerks.emplace_back([this, c, &got] {
            desk::CDatabase db(db_.string());
            const std::string clerk = "clerk" + std::to_string(c);
            const std::int64_t current = db.LeaseNext(clerk, 0, 1000, 600).value_or(-1);
            got[static_cast<std::size_t>(2 * c)] = current;
            got[static_cast<std::size_t>(2 * c + 1)] = db.ReserveNext(clerk, current, 1000, 120).value_or(-1);
        });
    for (std::thread& t : clerks) t.join();
    const std::set<std::int64_t> distinct(got.begin(), got.end());
    EXPECT_EQ(16u, distinct.size());
    EXPECT_EQ(1, *distinct.begin());
    EXPECT_EQ(16, *distinct.rbegin());
}

TEST_F(ReviewTest, CorrectionsAreRecordedAndAStaleSaveChangesNothing) {
    AddRegistrations(2);
    {
        desk::CDatabase db(db_.string());
        EXPECT_EQ(desk::CorrectOutcome::Saved,
                  db.Correct(1, "anna", {{"zip", "50661", "60661"}, {"vorname", "Grete", "Grete"}}, 1000));
        EXPECT_EQ("60661", db.Find(1)->record.zip);
        const std::vector<desk::Correction> made = db.Corrections(1);
        ASSERT_EQ(1u, made.size());  // an unchanged field is no correction
        EXPECT_EQ("anna", made[0].clerk);
        EXPECT_EQ("zip", made[0].field);
        EXPECT_EQ("50661", made[0].oldValue);
        EXPECT_EQ("60661", made[0].newValue);
        EXPECT_EQ(20u, made[0].at.size());

        // Ben saw the old value: his save is refused whole, nothing of it lands.
        EXPECT_EQ(desk::CorrectOutcome::Stale,
                  db.Correct(1, "ben", {{"vorname", "Grete", "Greta"}, {"zip", "50661", "70661"}}, 1000));
        EXPECT_EQ("60661", db.Find(1)->record.zip);
        EXPECT_EQ("Grete", db.Find(1)->record.vorname);
        EXPECT_EQ(1u, db.Corrections(1).size());

        // Held by another clerk: refused until the lease runs out.
        ASSERT_TRUE(db.TakeLease(2, "ben", 1000, 600));
        EXPECT_EQ(desk::CorrectOutcome::Leased, db.Correct(2, "anna", {{"zip", "50662", "60662"}}, 1100));
        EXPECT_EQ(desk::CorrectOutcome::Saved, db.Correct(2, "ben", {{"zip", "50662", "60662"}}, 1100));
        EXPECT_EQ(desk::CorrectOutcome::Saved,
                  db.Correct(2, "anna", {{"password_1", "Kennwort-XY", "Kennwort-XI"}}, 1600));
        // Only the registration's own fields, named as the element table names them.
        EXPECT_EQ(desk::CorrectOutcome::Invalid, db.Correct(2, "anna", {{"review", "", "x"}}, 1600));
        EXPECT_EQ(desk::CorrectOutcome::Invalid, db.Correct(2, "anna", {{"zip = 1 --", "", "x"}}, 1600));
        EXPECT_EQ(desk::CorrectOutcome::Missing, db.Correct(99, "anna", {{"zip", "", "x"}}, 1600));
    }
    // `show` lists the corrections, the password's only when asked.
    int status = -1;
    const std::string shown = RunCli("show 2", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, shown.find(" ben zip: \"50662\" -> \"60662\"")) << shown;
    EXPECT_NE(std::string::npos, shown.find(" anna password_1: (hidden) -> (hidden)")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("Kennwort-X")) << shown;
    EXPECT_NE(std::string::npos, RunCli("show 2 --with-passwords", &status).find("\"Kennwort-XY\" -> \"Kennwort-XI\""));
}

TEST_F(ReviewTest, ASaveSettlesTheDoubtsOfTheFieldsLookedAtAndTheRegistrationLeavesTheQueue) {
    {
        desk::CDatabase db(db_.string());
        desk::Registration r = NeedingReview("k1", "50661");
        r.record.nachname = "Berg";
        r.doubts[0].rivals = {"60661"};
        desk::Doubt looksAlike;
        looksAlike.field = "password_1";
        looksAlike.kind = desk::DoubtKind::LooksAlike;
        looksAlike.message = "holds I or l";
        desk::Doubt missing = desk::DoubtFromLine("nachname: missing");
        desk::Doubt whole = desk::DoubtFromLine("mail: the record was cut off");
        r.doubts.push_back(looksAlike);
        r.doubts.push_back(missing);
        r.doubts.push_back(whole);
        db.Add(r);
        ASSERT_EQ(4u, db.Find(1)->doubts.size());
        ASSERT_EQ(1u, db.Find(1)->doubts[0].rivals.size());
    }
    desk::CDatabase db(db_.string());
    // A stale save settles nothing.
    EXPECT_EQ(desk::CorrectOutcome::Stale, db.Correct(1, "anna", {{"zip", "99999", "50661"}}, 1000));
    EXPECT_EQ(4u, db.Find(1)->doubts.size());
    EXPECT_TRUE(db.Corrections(1).empty());

    // The postcode confirmed as it stands, the name typed, an untouched field without doubt not
    // recorded; the password (not in the save) keeps its doubt, the record's own doubt goes.
    ASSERT_EQ(desk::CorrectOutcome::Saved,
              db.Correct(1, "anna", {{"zip", "50661", "50661"}, {"nachname", "Berg", "Berger"}, {"vorname", "Grete", "Grete"}},
                         1000));
    const std::vector<desk::Correction> made = db.Corrections(1);
    ASSERT_EQ(3u, made.size());
    EXPECT_EQ("zip", made[0].field);
    EXPECT_EQ(made[0].oldValue, made[0].newValue);
    EXPECT_EQ("rival", made[0].doubtKind);
    EXPECT_EQ("\"50661\" could as well be \"60661\"", made[0].doubtMessage);
    EXPECT_EQ("nachname", made[1].field);
    EXPECT_EQ("Berger", made[1].newValue);
    EXPECT_EQ("missing", made[1].doubtKind);
    EXPECT_EQ("mail", made[2].field);
    EXPECT_EQ("the record was cut off", made[2].doubtMessage);
    std::vector<desk::Doubt> left = db.Find(1)->doubts;
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ("password_1", left[0].field);
    EXPECT_EQ(1, db.ReviewCount());
    // Its rivals went with the settled doubt.
    sqlite3_stmt* count = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db.Handle(), "SELECT count(*) FROM doubt_rival", -1, &count, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(count));
    EXPECT_EQ(0, sqlite3_column_int(count, 0));
    sqlite3_finalize(count);

    // The password confirmed: nothing left, out of the queue, and no lease hands it out again.
    ASSERT_EQ(desk::CorrectOutcome::Saved, db.Correct(1, "anna", {{"password_1", "Kennwort-XY", "Kennwort-XY"}}, 1000));
    EXPECT_TRUE(db.Find(1)->doubts.empty());
    EXPECT_EQ(0, db.ReviewCount());
    EXPECT_FALSE(db.LeaseNext("anna", 0, 1000, 600));
    int status = -1;
    const std::string shown = RunCli("show 1", &status);
    EXPECT_NE(std::string::npos, shown.find("review: none needed")) << shown;
    EXPECT_NE(std::string::npos, shown.find(" anna nachname: \"Berg\" -> \"Berger\", settles missing: missing")) << shown;
    EXPECT_NE(std::string::npos, shown.find(" anna password_1: (hidden) -> (hidden), settles looks-alike: holds I or l"))
        << shown;
    EXPECT_EQ(std::string::npos, shown.find("Kennwort")) << shown;
}

TEST_F(ReviewTest, CorrectionsOfTheSchemaBeforeSettlingAreKeptWithoutADoubt) {
    AddRegistrations(1);
    {
        // Back to schema 4, as the first review station left it, with a correction made then.
        desk::CDatabase db(db_.string());
        db.Exec("ALTER TABLE correction DROP COLUMN doubt_kind; ALTER TABLE correction DROP COLUMN doubt_message;"
                "ALTER TABLE registration DROP COLUMN record_text; ALTER TABLE registration DROP COLUMN record_text_size;"
                "INSERT INTO correction (registration, clerk, field, old_value, new_value)"
                " VALUES (1, 'anna', 'vorname', 'Grete', 'Greta'); PRAGMA user_version = 4;");
    }
    desk::CDatabase db(db_.string());
    ASSERT_EQ(desk::CorrectOutcome::Saved, db.Correct(1, "ben", {{"zip", "50661", "60661"}}, 1000));
    const std::vector<desk::Correction> made = db.Corrections(1);
    ASSERT_EQ(2u, made.size());
    EXPECT_EQ("Greta", made[0].newValue);
    EXPECT_EQ("", made[0].doubtKind);
    EXPECT_EQ("rival", made[1].doubtKind);
    EXPECT_EQ(0, db.ReviewCount());
}
