-- The institution's local administration database (T-SQL): every table the
-- upload agent reads or writes, with the columns it uses. Runs on SQL
-- Server and on the agent's embedded engine, through agent-sql:
--   agent-sql -S <server> -U sa -P <password> -d <database> -i schema/local.sql
-- Dates are datetime, amounts numeric(12,2). Tables whose rows have no key
-- of their own (a subject's sub-code, a fee month or a message id may be
-- NULL) have no primary key.

-- One row: the institution code and the last receipt number issued to a
-- college without a group.
CREATE TABLE control (
  funivcode varchar(10) NULL,
  frecno varchar(20) NULL
)
GO

CREATE TABLE collgroup (
  fgroupcode varchar(10) NOT NULL,
  fgroupname varchar(100) NULL,
  frecprefix varchar(10) NULL,
  freclastno int NULL,
  PRIMARY KEY (fgroupcode)
)
GO

CREATE TABLE college (
  fcollcode varchar(10) NOT NULL,
  fcollname varchar(100) NULL,
  fadd1 varchar(100) NULL,
  fadd2 varchar(100) NULL,
  fadd3 varchar(100) NULL,
  fadd4 varchar(100) NULL,
  fattsession varchar(10) NULL,
  fgroupcode varchar(10) NULL,
  PRIMARY KEY (fcollcode)
)
GO

CREATE TABLE degree (
  fdegree varchar(10) NOT NULL,
  fdescpn varchar(100) NULL,
  fexamno varchar(10) NOT NULL,
  fexamname varchar(100) NULL,
  fyear varchar(10) NULL,
  fexamtype varchar(10) NULL,
  fexamdate datetime NULL,
  PRIMARY KEY (fdegree, fexamno)
)
GO

CREATE TABLE subject (
  fdegree varchar(10) NOT NULL,
  fexamno varchar(10) NOT NULL,
  fsubcode varchar(10) NOT NULL,
  fsubname varchar(100) NULL,
  fssubcode varchar(10) NULL,
  fssubname varchar(100) NULL,
  fattsub varchar(10) NULL,
  fth char(5) NULL,
  fia char(5) NULL,
  fretain char(5) NULL,
  fcombclid char(5) NULL
)
GO

CREATE TABLE mascat (
  fcatcode varchar(10) NOT NULL,
  fcatdesc varchar(100) NULL,
  PRIMARY KEY (fcatcode)
)
GO

CREATE TABLE mashead (
  fheadcode varchar(10) NOT NULL,
  fheaddesc varchar(100) NULL,
  FORDER int NULL,
  PRIMARY KEY (fheadcode)
)
GO

CREATE TABLE masroute (
  frtcode varchar(10) NOT NULL,
  frtname varchar(100) NULL,
  PRIMARY KEY (frtcode)
)
GO

CREATE TABLE student (
  fadmno varchar(20) NOT NULL,
  fdegree varchar(10) NULL,
  fexamno varchar(10) NULL,
  fname varchar(100) NULL,
  ffather varchar(100) NULL,
  fmother varchar(100) NULL,
  fdob datetime NULL,
  fmobile varchar(30) NULL,
  femail varchar(100) NULL,
  fsex varchar(10) NULL,
  fbgroup varchar(10) NULL,
  fcatcode varchar(10) NULL,
  frtcode varchar(10) NULL,
  fsection varchar(10) NULL,
  factive varchar(10) NULL,
  fyear varchar(10) NULL,
  fregno varchar(30) NULL,
  faddr1 varchar(100) NULL,
  faddr2 varchar(100) NULL,
  faddr3 varchar(100) NULL,
  faddr4 varchar(100) NULL,
  fpincode varchar(20) NULL,
  faddp1 varchar(100) NULL,
  faddp2 varchar(100) NULL,
  faddp3 varchar(100) NULL,
  faddp4 varchar(100) NULL,
  fpincodep varchar(20) NULL,
  fcollcode varchar(10) NULL,
  fdoa datetime NULL,
  fhostcode varchar(10) NULL,
  fhostjoindate datetime NULL,
  fmesscode varchar(10) NULL,
  fcombcode varchar(10) NULL,
  fmobilep varchar(30) NULL,
  femailp varchar(100) NULL,
  fhostblock varchar(20) NULL,
  fhostroomno varchar(20) NULL,
  freligion varchar(30) NULL,
  fcaste varchar(30) NULL,
  f1stlang varchar(30) NULL,
  f2ndlang varchar(30) NULL,
  fseattype varchar(30) NULL,
  fseatstate varchar(30) NULL,
  fplacecode varchar(10) NULL,
  fdropplace varchar(50) NULL,
  fdeleted char(1) NULL,
  PRIMARY KEY (fadmno)
)
GO

CREATE TABLE result (
  fcollcode varchar(10) NOT NULL,
  fdegree varchar(10) NOT NULL,
  fexamno varchar(10) NOT NULL,
  fsection varchar(10) NULL,
  fadmno varchar(20) NOT NULL,
  factive varchar(10) NULL,
  fyear varchar(10) NOT NULL,
  fexamtype varchar(10) NOT NULL,
  fclosed varchar(10) NULL,
  PRIMARY KEY (fcollcode, fdegree, fexamno, fadmno, fyear, fexamtype)
)
GO

CREATE TABLE studsub (
  fcollcode varchar(10) NOT NULL,
  fdegree varchar(10) NOT NULL,
  fexamno varchar(10) NOT NULL,
  fsubcode varchar(20) NOT NULL,
  fadmno varchar(20) NOT NULL,
  fpass varchar(10) NULL,
  fpassmth varchar(20) NULL,
  fmarks numeric(6,2) NULL,
  fremarks varchar(100) NULL,
  PRIMARY KEY (fcollcode, fdegree, fexamno, fsubcode, fadmno)
)
GO

-- Fee due per student, fee head and (optionally) year and month.
CREATE TABLE FEESTRV (
  FDEGREE varchar(10) NOT NULL,
  FADMNO varchar(20) NOT NULL,
  FHEADCODE varchar(10) NOT NULL,
  FYEAR varchar(10) NULL,
  FMONTH varchar(10) NULL,
  FFEE numeric(12,2) NULL,
  FEXAMNO varchar(10) NULL,
  FLASTDATE datetime NULL,
  FFINE numeric(12,2) NULL
)
GO

-- Receipt headers with one column group per payment mode; FRECCODE holds
-- the student's admission number, FDELETED 'T' marks a cancelled receipt.
CREATE TABLE RECHEAD (
  FRECNO varchar(20) NOT NULL,
  FRECDATE datetime NULL,
  FRECTYPE varchar(5) NULL,
  FRECCODE varchar(20) NULL,
  FNAME varchar(100) NULL,
  FACCNO varchar(20) NULL,
  FTOTAL numeric(12,2) NULL,
  FDEGREE varchar(10) NULL,
  FEXAMNO varchar(10) NULL,
  FREMARKS varchar(200) NULL,
  FNETTOTAL numeric(12,2) NULL,
  FDISCOUNT numeric(12,2) NULL,
  FUSERNAME varchar(50) NULL,
  FCASHAMOUNT numeric(12,2) NULL,
  FCASHNO varchar(50) NULL,
  FCASHDATE datetime NULL,
  FCASHBANKNAME varchar(100) NULL,
  FCHQAMOUNT numeric(12,2) NULL,
  FCHQNO varchar(50) NULL,
  FCHQDATE datetime NULL,
  FCHQBANKNAME varchar(100) NULL,
  FDDAMOUNT numeric(12,2) NULL,
  FDDNO varchar(50) NULL,
  FDDDATE datetime NULL,
  FDDBANKNAME varchar(100) NULL,
  FRTGSAMOUNT numeric(12,2) NULL,
  FRTGSNO varchar(50) NULL,
  FRTGSDATE datetime NULL,
  FRTGSBANKNAME varchar(100) NULL,
  FCARDAMOUNT numeric(12,2) NULL,
  FCARDNO varchar(50) NULL,
  FCARDDATE datetime NULL,
  FCARDBANKNAME varchar(100) NULL,
  FCHALAMOUNT numeric(12,2) NULL,
  FCHALNO varchar(50) NULL,
  FCHALDATE datetime NULL,
  FCHALBANKNAME varchar(100) NULL,
  FDELETED char(1) NULL,
  PRIMARY KEY (FRECNO)
)
GO

-- Receipt lines; one fee head may appear once per month, and the online
-- posting writes lines without a month.
CREATE TABLE RECDETL (
  FRECNO varchar(20) NOT NULL,
  FHEADCODE varchar(10) NOT NULL,
  FMONTH varchar(10) NULL,
  FAMOUNT numeric(12,2) NULL
)
GO

CREATE TABLE masemp (
  fempcode varchar(20) NOT NULL,
  fempname varchar(100) NULL,
  fmobile varchar(30) NULL,
  femail varchar(100) NULL,
  fdegncode varchar(50) NULL,
  PRIMARY KEY (fempcode)
)
GO

CREATE TABLE hosthead (
  fhostcode varchar(10) NOT NULL,
  fhostname varchar(100) NULL,
  ffloors int NULL,
  frooms int NULL,
  forder int NULL,
  PRIMARY KEY (fhostcode)
)
GO

CREATE TABLE roomtype (
  froomtype varchar(10) NOT NULL,
  fdescpn varchar(100) NULL,
  forder int NULL,
  PRIMARY KEY (froomtype)
)
GO

CREATE TABLE hostrooms (
  fhostcode varchar(10) NOT NULL,
  froomno varchar(10) NOT NULL,
  froomdesc varchar(100) NULL,
  ffloorno varchar(10) NULL,
  froomtype varchar(10) NULL,
  fcapacity int NULL,
  ffee numeric(12,2) NULL,
  forder int NULL,
  PRIMARY KEY (fhostcode, froomno)
)
GO

-- Text messages sent by the local system; fupload is 'T' once uploaded.
CREATE TABLE smslog (
  fdate datetime NULL,
  ftime varchar(20) NULL,
  fusername varchar(50) NULL,
  fmessage varchar(max) NULL,
  fstatus varchar(20) NULL,
  fguid varchar(100) NULL,
  fscreentype varchar(50) NULL,
  fadmno varchar(20) NULL,
  fdegree varchar(10) NULL,
  fmobileno varchar(30) NULL,
  fupload char(1) NULL
)
GO

-- Gateway payments booked as local receipts, by order id.
CREATE TABLE paygate (
  fadmno varchar(20) NULL,
  forderid varchar(100) NULL,
  forderdate datetime NULL,
  famount numeric(12,2) NULL,
  fmode varchar(50) NULL,
  ftranid varchar(100) NULL
)
GO
