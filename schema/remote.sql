-- The portal's remote database (MySQL / MariaDB): every table the upload
-- cycle writes or reads. Keys are the ones the merges match on: the insert
-- loads rely on the server skipping a row whose primary or unique key
-- already exists. Tables are latin1 (Windows-1252 on MariaDB), the code page
-- of the export files, which the server reads in the database's character
-- set. Dates the export files write as yyyy-mm-dd are DATE columns; dates
-- they write in the regional short form stay text.
--
-- Statements end with ";" at the end of a line, so that a test can run the
-- file statement by statement.

-- Start and end stamps of the upload cycles; one row, stamped as a whole.
CREATE TABLE control (
  flastupdstarttime VARCHAR(30) NULL,
  flastupdendtime VARCHAR(30) NULL
) DEFAULT CHARSET latin1;
INSERT INTO control (flastupdstarttime, flastupdendtime) VALUES (NULL, NULL);

CREATE TABLE college (
  fcollcode VARCHAR(10) NOT NULL,
  fcollname VARCHAR(100) NULL,
  fadd1 VARCHAR(100) NULL,
  fadd2 VARCHAR(100) NULL,
  fadd3 VARCHAR(100) NULL,
  fadd4 VARCHAR(100) NULL,
  fattsession VARCHAR(10) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fcollcode)
) DEFAULT CHARSET latin1;

-- fexamdate arrives in the regional short date form, not as yyyy-mm-dd.
CREATE TABLE degree (
  fdegree VARCHAR(10) NOT NULL,
  fdescpn VARCHAR(100) NULL,
  fexamno VARCHAR(10) NOT NULL,
  fexamname VARCHAR(100) NULL,
  fyear VARCHAR(10) NULL,
  fexamtype VARCHAR(10) NULL,
  fexamdate VARCHAR(30) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fdegree, fexamno)
) DEFAULT CHARSET latin1;

-- fcsubcode is fsubcode followed by fssubcode; fmaxmarks and fsmaxmarks are
-- kept by the portal and never uploaded.
CREATE TABLE subject (
  fdegree VARCHAR(10) NOT NULL,
  fexamno VARCHAR(10) NOT NULL,
  fsubcode VARCHAR(10) NULL,
  fsubname VARCHAR(100) NULL,
  fssubcode VARCHAR(10) NULL,
  fssubname VARCHAR(100) NULL,
  fcsubcode VARCHAR(20) NOT NULL,
  fattsub VARCHAR(10) NULL,
  fth VARCHAR(10) NULL,
  fia VARCHAR(10) NULL,
  fretain VARCHAR(10) NULL,
  fcombclid VARCHAR(10) NULL,
  fmaxmarks DECIMAL(8,2) NULL,
  fsmaxmarks DECIMAL(8,2) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fdegree, fexamno, fcsubcode)
) DEFAULT CHARSET latin1;

CREATE TABLE mascat (
  fcatcode VARCHAR(10) NOT NULL,
  fcatdesc VARCHAR(100) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fcatcode)
) DEFAULT CHARSET latin1;

CREATE TABLE mashead (
  fheadcode VARCHAR(10) NOT NULL,
  fheaddesc VARCHAR(100) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fheadcode)
) DEFAULT CHARSET latin1;

CREATE TABLE masroute (
  frtcode VARCHAR(10) NOT NULL,
  frtname VARCHAR(100) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (frtcode)
) DEFAULT CHARSET latin1;

CREATE TABLE student (
  fadmno VARCHAR(20) NOT NULL,
  fdegree VARCHAR(10) NULL,
  fexamno VARCHAR(10) NULL,
  fname VARCHAR(100) NULL,
  ffather VARCHAR(100) NULL,
  fmother VARCHAR(100) NULL,
  fdob DATE NULL,
  fmobile VARCHAR(30) NULL,
  femail VARCHAR(100) NULL,
  fgender VARCHAR(10) NULL,
  fbloodgrp VARCHAR(10) NULL,
  fcatcode VARCHAR(10) NULL,
  frtcode VARCHAR(10) NULL,
  fsection VARCHAR(10) NULL,
  factive VARCHAR(10) NULL,
  fyear VARCHAR(10) NULL,
  fregno VARCHAR(30) NULL,
  faddr1 VARCHAR(100) NULL,
  faddr2 VARCHAR(100) NULL,
  faddr3 VARCHAR(100) NULL,
  faddr4 VARCHAR(100) NULL,
  fpincode VARCHAR(20) NULL,
  faddp1 VARCHAR(100) NULL,
  faddp2 VARCHAR(100) NULL,
  faddp3 VARCHAR(100) NULL,
  faddp4 VARCHAR(100) NULL,
  fpincodep VARCHAR(20) NULL,
  fcollcode VARCHAR(10) NULL,
  fdoa DATE NULL,
  fhostcode VARCHAR(10) NULL,
  fhostjoindate DATE NULL,
  fmesscode VARCHAR(10) NULL,
  fcombcode VARCHAR(10) NULL,
  fmobilep VARCHAR(30) NULL,
  femailp VARCHAR(100) NULL,
  fhostblock VARCHAR(20) NULL,
  fhostroomno VARCHAR(20) NULL,
  freligion VARCHAR(30) NULL,
  fcaste VARCHAR(30) NULL,
  f1stlang VARCHAR(30) NULL,
  f2ndlang VARCHAR(30) NULL,
  fseattype VARCHAR(30) NULL,
  fseatstate VARCHAR(30) NULL,
  fplacecode VARCHAR(10) NULL,
  fdropplace VARCHAR(50) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fadmno)
) DEFAULT CHARSET latin1;

-- Portal logins; fusername is the student's admission number.
CREATE TABLE masuser (
  fusername VARCHAR(20) NOT NULL,
  fpasswd VARCHAR(50) NULL,
  fusertype VARCHAR(5) NULL,
  fusergrp VARCHAR(5) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fusername)
) DEFAULT CHARSET latin1;

CREATE TABLE result (
  fcollcode VARCHAR(10) NOT NULL,
  fdegree VARCHAR(10) NOT NULL,
  fexamno VARCHAR(10) NOT NULL,
  fsection VARCHAR(10) NULL,
  fadmno VARCHAR(20) NOT NULL,
  factive VARCHAR(10) NULL,
  fyear VARCHAR(10) NOT NULL,
  fexamtype VARCHAR(10) NOT NULL,
  fclosed VARCHAR(10) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fcollcode, fdegree, fexamno, fadmno, fyear, fexamtype)
) DEFAULT CHARSET latin1;

CREATE TABLE studsub (
  fcollcode VARCHAR(10) NOT NULL,
  fdegree VARCHAR(10) NOT NULL,
  fexamno VARCHAR(10) NOT NULL,
  fsubcode VARCHAR(20) NOT NULL,
  fadmno VARCHAR(20) NOT NULL,
  fpass VARCHAR(10) NULL,
  fpassmth VARCHAR(20) NULL,
  fmarks VARCHAR(10) NULL,
  fremarks VARCHAR(100) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fcollcode, fdegree, fexamno, fsubcode, fadmno)
) DEFAULT CHARSET latin1;

-- Fee position per student and fee head; fdeleted is 'M' while a merge
-- marks the rows it matched.
CREATE TABLE studfee (
  fadmno VARCHAR(20) NOT NULL,
  fdegree VARCHAR(10) NOT NULL,
  fexamno VARCHAR(10) NULL,
  fheadcode VARCHAR(10) NOT NULL,
  ffee DECIMAL(12,2) NULL,
  fpaid DECIMAL(12,2) NULL,
  fbal DECIMAL(12,2) NULL,
  flastdate DATE NULL,
  fyear VARCHAR(10) NULL,
  fexamtype VARCHAR(10) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fdegree, fadmno, fheadcode)
) DEFAULT CHARSET latin1;

-- Receipts. The portal writes its own gateway receipts here too, with
-- fpaytype 'PG' (read back by the gateway receipt download).
CREATE TABLE rechead (
  frecno VARCHAR(20) NOT NULL,
  frecdate DATE NULL,
  fadmno VARCHAR(20) NULL,
  ftotal DECIMAL(12,2) NULL,
  fdegree VARCHAR(10) NULL,
  fexamno VARCHAR(10) NULL,
  fdiscount DECIMAL(12,2) NULL,
  fnettotal DECIMAL(12,2) NULL,
  fyear VARCHAR(10) NULL,
  fexamtype VARCHAR(10) NULL,
  fdeleted CHAR(1) NULL,
  fpaytype VARCHAR(20) NULL,
  fremarks VARCHAR(200) NULL,
  PRIMARY KEY (frecno)
) DEFAULT CHARSET latin1;

CREATE TABLE recdetl (
  frecno VARCHAR(20) NOT NULL,
  fheadcode VARCHAR(10) NOT NULL,
  famount DECIMAL(12,2) NULL,
  fdeleted CHAR(1) NULL,
  fpaytype VARCHAR(20) NULL,
  PRIMARY KEY (frecno, fheadcode)
) DEFAULT CHARSET latin1;

-- One row per receipt and pay type ("Cash", "Cheque", "DD", "NEFT / RTGS",
-- "CARD", "PG", "CHALLAN").
CREATE TABLE recmode (
  frecno VARCHAR(20) NOT NULL,
  fpaytype VARCHAR(20) NOT NULL,
  famount DECIMAL(12,2) NULL,
  finstrno VARCHAR(50) NULL,
  finstrdate DATE NULL,
  finstrbank VARCHAR(100) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (frecno, fpaytype)
) DEFAULT CHARSET latin1;

-- Sent text messages. A message is loaded again in every cycle while its
-- local row stays unmarked (no fguid, or a failed mark); the unique key
-- makes the server skip such a repeat instead of storing it twice, while
-- distinct messages without fguid (other number, time or text) are kept.
CREATE TABLE smslog (
  fid INT NOT NULL AUTO_INCREMENT,
  fdate DATE NULL,
  ftime VARCHAR(20) NULL,
  fusername VARCHAR(50) NULL,
  fmessage TEXT NULL,
  fstatus VARCHAR(20) NULL,
  fguid VARCHAR(100) NULL,
  fscreentype VARCHAR(50) NULL,
  fadmno VARCHAR(20) NULL,
  fdegree VARCHAR(10) NULL,
  fmobile VARCHAR(30) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fid),
  UNIQUE KEY smslog_message (fguid, fmobile, fdate, ftime, fmessage(255))
) DEFAULT CHARSET latin1;

CREATE TABLE masemp (
  fempcode VARCHAR(20) NOT NULL,
  fempname VARCHAR(100) NULL,
  fmobile VARCHAR(30) NULL,
  femail VARCHAR(100) NULL,
  fdesignation VARCHAR(50) NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fempcode)
) DEFAULT CHARSET latin1;

CREATE TABLE hosthead (
  fhostcode VARCHAR(10) NOT NULL,
  fhostname VARCHAR(100) NULL,
  ffloors INT NULL,
  frooms INT NULL,
  forder INT NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fhostcode)
) DEFAULT CHARSET latin1;

CREATE TABLE hostroomtype (
  froomtype VARCHAR(10) NOT NULL,
  fdescpn VARCHAR(100) NULL,
  forder INT NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (froomtype)
) DEFAULT CHARSET latin1;

CREATE TABLE hostrooms (
  fhostcode VARCHAR(10) NOT NULL,
  froomno VARCHAR(10) NOT NULL,
  froomdesc VARCHAR(100) NULL,
  ffloorno VARCHAR(10) NULL,
  froomtype VARCHAR(10) NULL,
  fcapacity INT NULL,
  ffee DECIMAL(12,2) NULL,
  forder INT NULL,
  fdeleted CHAR(1) NULL,
  PRIMARY KEY (fhostcode, froomno)
) DEFAULT CHARSET latin1;

-- Payments captured by the portal's gateway; fdownloaddate and frecno are
-- set when the agent has booked the payment locally. The same order id may
-- appear on more than one row.
CREATE TABLE rzp_paymentgateway (
  fid INT NOT NULL AUTO_INCREMENT,
  fdate DATETIME NULL,
  fadmno VARCHAR(20) NULL,
  famtpaidtoinst DECIMAL(12,2) NULL,
  forderid VARCHAR(100) NULL,
  ftransactionid VARCHAR(100) NULL,
  fmodeofpayment VARCHAR(50) NULL,
  fstatus VARCHAR(20) NULL,
  fdownloaddate DATETIME NULL,
  frecno VARCHAR(20) NULL,
  PRIMARY KEY (fid),
  KEY rzp_order (forderid)
) DEFAULT CHARSET latin1;
