<?php
// The list page of list.asp written the way a PHP author would: the count,
// then the first 20 rows in the same order, limited in the SQL. KV_DB and
// KV_PDO_PERSISTENT as in read.php.
$db = new PDO('sqlite:' . getenv('KV_DB'), null, null,
              [PDO::ATTR_PERSISTENT => getenv('KV_PDO_PERSISTENT') !== '0',
               PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
$total = $db->query('SELECT COUNT(*) FROM krorder')->fetchColumn();
header('Cache-Control: no-store');
echo "\n";
foreach ($db->query('SELECT lid, strno, lamount FROM krorder ORDER BY strno, lid LIMIT 20') as $row) {
  echo $row['lid'], ' ', htmlspecialchars($row['strno']), ' ', $row['lamount'], "\n";
}
echo 'of ', $total, "\n";
