-- The unfinished change of the images: the photo-only person's photo deleted, a larger photo for
-- person 1 and a new one for person 2, and thumbnails made for many persons, enough that SQLite
-- writes changed pages into the database before the commit.
DELETE FROM ABFullSizeImage WHERE record_id = 15;
UPDATE ABFullSizeImage SET data = zeroblob(40000) WHERE record_id = 1;
INSERT INTO ABFullSizeImage(record_id, data) VALUES (2, zeroblob(30000));
WITH RECURSIVE n(i) AS (SELECT 22 UNION ALL SELECT i + 1 FROM n WHERE i < 59)
  INSERT INTO ABThumbnailImage(record_id, format, data) SELECT i, 0, zeroblob(3000) FROM n;
