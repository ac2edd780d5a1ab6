-- A change the phone had not finished when the backup was taken: nine fillers renamed, ten
-- persons deleted, numbers and e-mail addresses of six others deleted, notes, a phonetic name and
-- an address changed, persons added, and enough new rows that SQLite writes changed pages into
-- the database before the commit.
UPDATE ABPerson SET First = 'Half Written', Last = ROWID WHERE ROWID BETWEEN 40 AND 48;
DELETE FROM ABMultiValue WHERE record_id BETWEEN 49 AND 58;
DELETE FROM ABPerson WHERE ROWID BETWEEN 49 AND 58;
DELETE FROM ABMultiValue WHERE record_id BETWEEN 30 AND 35;
UPDATE ABPerson SET Note = 'Gate code 0000' WHERE ROWID IN (8, 16);
UPDATE ABPerson SET FirstPhonetic = 'Jiro' WHERE ROWID = 6;
DELETE FROM ABMultiValueEntry WHERE parent_id = 20;
UPDATE ABPerson SET Note = 'Likes coffee' WHERE ROWID = 1;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 120)
  INSERT INTO ABPerson(First, Last, Note, Kind)
  SELECT 'Unsaved', 'Person ' || i, replace(hex(zeroblob(200)), '0', 'x'), 0 FROM n;
