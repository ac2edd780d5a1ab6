-- The address book of an older phone, whose SQLite keeps a rollback journal: one person of every
-- shape (a name with every detail, and persons with only one thing each: a company, an e-mail
-- address, a number, a phonetic name, an address, a note, a web address, a nickname, a birthday,
-- an account, a related name, a date, a photo, a department), two people with the same note
-- only, a blank card, two namesakes, and filler persons up to 59.
CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT,
  Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization TEXT,
  Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT,
  Prefix TEXT, Suffix TEXT, FirstSort TEXT, LastSort TEXT, CreationDate INTEGER,
  ModificationDate INTEGER, CompositeNameFallback TEXT, ExternalIdentifier TEXT, StoreID INTEGER,
  DisplayName TEXT, ExternalRepresentation BLOB, FirstSortSection TEXT, LastSortSection TEXT,
  FirstSortLanguageIndex INTEGER DEFAULT 2147483647,
  LastSortLanguageIndex INTEGER DEFAULT 2147483647);
CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER,
  identifier INTEGER, label INTEGER, value TEXT);
CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));
CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT,
  UNIQUE(parent_id, key));
CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));
CREATE INDEX ABMultiValueRecordIDIndex ON ABMultiValue(record_id);

INSERT INTO ABMultiValueLabel(rowid, value) VALUES (1,'_$!<Mobile>!$_'), (2,'_$!<Home>!$_'),
  (3,'_$!<Work>!$_'), (4,'_$!<Other>!$_'), (5,'_$!<Anniversary>!$_'), (6,'_$!<HomePage>!$_'),
  (7,'_$!<Mother>!$_');
INSERT INTO ABMultiValueEntryKey(rowid, value) VALUES (1,'Street'), (2,'City'), (3,'State'),
  (4,'ZIP'), (5,'Country'), (6,'CountryCode'), (7,'service'), (8,'username');

-- Older phones store dates as numbers of seconds from 2001.
INSERT INTO ABPerson(ROWID, First, Last, FirstPhonetic, LastPhonetic, Organization, Department,
  JobTitle, Note, Kind, Birthday, Nickname) VALUES
  (1,'Anna','Berg','Ana','Berj','Acme','R&D','Engineer','Likes tea',0,170000000,'Annie');
INSERT INTO ABMultiValue VALUES (1,1,3,0,1,'+46 70 123 45 67'), (2,1,4,0,3,'anna@work.example'),
  (3,1,5,0,2,NULL), (4,1,22,0,6,'https://anna.example'), (5,1,13,0,2,NULL),
  (6,1,23,0,7,'Eva Berg'), (7,1,12,0,5,300000000);
INSERT INTO ABMultiValueEntry VALUES (3,1,'Storgatan 1'), (3,2,'Stockholm'), (3,4,'111 22'),
  (3,5,'Sweden'), (3,6,'se'), (5,7,'Skype'), (5,8,'anna.berg');

INSERT INTO ABPerson(ROWID, First, Last, Kind) VALUES (2,'Carl','Diaz',0);
INSERT INTO ABMultiValue VALUES (8,2,3,0,1,'+1 212 555 0101'), (9,2,3,0,3,'+1 212 555 0102');

INSERT INTO ABPerson(ROWID, Organization, Kind) VALUES (3,'Globex',1);
INSERT INTO ABPerson(ROWID, Kind) VALUES (4,0), (5,0);
INSERT INTO ABMultiValue VALUES (10,4,4,0,2,'someone@example.org'),
  (11,5,3,0,1,'+44 20 7946 0000');

-- Nothing but a phonetic name, an address, a note, a web address, a nickname, a birthday, an
-- account, a related name, a date, a photo (in the images), a department.
INSERT INTO ABPerson(ROWID, FirstPhonetic, LastPhonetic, Kind) VALUES (6,'Taro','Yamada',0);
INSERT INTO ABPerson(ROWID, Kind) VALUES (7,0);
INSERT INTO ABMultiValue VALUES (20,7,5,0,3,NULL);
INSERT INTO ABMultiValueEntry VALUES (20,1,'Hauptstrasse 5'), (20,2,'Berlin'), (20,4,'10115'),
  (20,5,'Germany');
INSERT INTO ABPerson(ROWID, Note, Kind) VALUES (8,'Gate code 4711',0);
INSERT INTO ABPerson(ROWID, Kind) VALUES (9,0);
INSERT INTO ABMultiValue VALUES (21,9,22,0,6,'https://only-a-link.example');
INSERT INTO ABPerson(ROWID, Nickname, Kind) VALUES (10,'Bobby',0);
INSERT INTO ABPerson(ROWID, Birthday, Kind) VALUES (11,200000000,0);
INSERT INTO ABPerson(ROWID, Kind) VALUES (12,0), (13,0), (14,0), (15,0);
INSERT INTO ABMultiValue VALUES (22,12,13,0,2,NULL), (23,13,23,0,7,'Maria Keller'),
  (24,14,12,0,5,250000000);
INSERT INTO ABMultiValueEntry VALUES (22,7,'Jabber'), (22,8,'someone@jabber.example');

-- Two people the phone knows by the same note only, and one by another note.
INSERT INTO ABPerson(ROWID, Note, Kind) VALUES (16,'Gate code 4711',0), (17,'Gate code 4712',0);
-- A blank card.
INSERT INTO ABPerson(ROWID, Kind) VALUES (18,0);
-- Namesakes: two people.
INSERT INTO ABPerson(ROWID, First, Last, Kind) VALUES (19,'John','Smith',0), (20,'John','Smith',0);
INSERT INTO ABMultiValue VALUES (25,19,3,0,1,'+1 555 1001'), (26,20,3,0,1,'+1 555 2002');
INSERT INTO ABPerson(ROWID, Department, Kind) VALUES (21,'Night Shift',0);

WITH RECURSIVE n(i) AS (SELECT 22 UNION ALL SELECT i + 1 FROM n WHERE i < 59)
  INSERT INTO ABPerson(ROWID, First, Last, Kind) SELECT i, 'Person ' || i, 'Filler', 0 FROM n;
WITH RECURSIVE n(i) AS (SELECT 22 UNION ALL SELECT i + 1 FROM n WHERE i < 59)
  INSERT INTO ABMultiValue SELECT 100 + i, i, 3, 0, 1, '+1 555 01' || i FROM n;
WITH RECURSIVE n(i) AS (SELECT 22 UNION ALL SELECT i + 1 FROM n WHERE i < 59)
  INSERT INTO ABMultiValue SELECT 200 + i, i, 4, 0, 2, 'person' || i || '@example.com' FROM n;
