<?php
// The read page of read.asp written the way a PHP author would: the same
// order row and the German text of its colour from the same SQLite file,
// the same bytes out. KV_DB names the file; KV_PDO_PERSISTENT=0 opens a
// new connection for every request.
$db = new PDO('sqlite:' . getenv('KV_DB'), null, null,
              [PDO::ATTR_PERSISTENT => getenv('KV_PDO_PERSISTENT') !== '0',
               PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
$row = $db->query('SELECT * FROM krorder WHERE lid = 1')->fetch(PDO::FETCH_ASSOC);
$text = $db->prepare('SELECT strtext FROM krlang WHERE ltableid = 500 AND ltype = 7 AND strident = ? AND lcid = ?');
$text->execute([$row['strcolor'], 1031]);
$translated = $text->fetchColumn();
header('Cache-Control: no-store');
echo "\n\n<p>", htmlspecialchars($row['strno']), ' ', htmlspecialchars($row['strcolor']), "\n",
     htmlspecialchars($row['strstate']), ' ', $row['lamount'], "\n", $row['dblprice'], ' ',
     htmlspecialchars($translated), "</p>\n";
