/*
  Records database of the workstation: tables, generators, indexes, stored procedures and the
  phrase catalogue of the report editor.

  This file is UTF-8. Run it with isql-fb -ch UTF8 inside a database created with
  DEFAULT CHARACTER SET WIN1252 (scripts/create-database.sh does both); the server converts
  the texts to WIN1252 on the way in.

  Every change the program makes goes through the procedures below; the program only reads
  the tables directly.
*/

SET SQL DIALECT 3;
SET AUTODDL ON;

/* ---- Generators: one per table with a generated code ------------------------------------ */

CREATE GENERATOR CODIGO_PACIENTES;
CREATE GENERATOR CODIGO_MEDICOS;
CREATE GENERATOR CODIGO_EXAMES;
CREATE GENERATOR CODIGO_LAUDOS;

/* ---- Tables ------------------------------------------------------------------------------ */

CREATE TABLE PACIENTES (
  CODIGO             INTEGER NOT NULL,
  CODMEDICO          INTEGER NOT NULL,
  NOME               VARCHAR(50),
  RG                 VARCHAR(15),
  CPF                VARCHAR(11),
  SEXO               VARCHAR(1),
  ESTADOCIVIL        VARCHAR(1),
  CONJUGE            VARCHAR(25),
  DATANASCIMENTO     VARCHAR(10),
  NATURALIDADE       VARCHAR(40),
  NATURALIDADEESTADO VARCHAR(2),
  PAI                VARCHAR(50),
  MAE                VARCHAR(50),
  RUA                VARCHAR(40),
  COMPLEMENTO        VARCHAR(25),
  BAIRRO             VARCHAR(30),
  CIDADE             VARCHAR(40),
  ESTADO             VARCHAR(2),
  CEP                VARCHAR(9),
  FONE               VARCHAR(11),
  CELULAR            VARCHAR(11),
  CONVENIO           VARCHAR(50),
  PROFISSAO          VARCHAR(40),
  ENCAMINHADO        VARCHAR(40),
  TIPOSANG           VARCHAR(3),
  DTCADASTRO         DATE,
  ULTIMOEXAME        VARCHAR(50),
  TOTALEXAMES        INTEGER,
  CONSTRAINT PK_CODIGOPACIENTES PRIMARY KEY (CODIGO)
);

CREATE TABLE MEDICOS (
  CODIGO             INTEGER NOT NULL,
  NOME               VARCHAR(50),
  RG                 VARCHAR(15),
  CPF                VARCHAR(11),
  CRM                VARCHAR(15),
  SEXO               VARCHAR(1),
  ESTADOCIVIL        VARCHAR(1),
  CONJUGE            VARCHAR(25),
  DATANASCIMENTO     VARCHAR(10),
  NATURALIDADE       VARCHAR(40),
  NATURALIDADEESTADO VARCHAR(2),
  PAI                VARCHAR(50),
  MAE                VARCHAR(50),
  RUA                VARCHAR(40),
  COMPLEMENTO        VARCHAR(25),
  BAIRRO             VARCHAR(30),
  CIDADE             VARCHAR(40),
  ESTADO             VARCHAR(2),
  CEP                VARCHAR(9),
  FONE               VARCHAR(11),
  CELULAR            VARCHAR(11),
  CONSTRAINT PK_CODIGOMEDICOS PRIMARY KEY (CODIGO)
);

CREATE TABLE EXAMES (
  CODIGO      INTEGER NOT NULL,
  CODPACIENTE INTEGER NOT NULL,
  CODRESP     INTEGER NOT NULL,
  DATA        DATE,
  HORA        TIME,
  OLHO        VARCHAR(2),
  TIPOEXAME   VARCHAR(5),
  BACKUP      VARCHAR(10),
  DIAG        VARCHAR(240),
  OBSERVACAO  VARCHAR(240),
  INDCONF     DOUBLE PRECISION,
  NUMANEL     INTEGER,
  TIPOCONE    VARCHAR(10),
  CONSTRAINT PK_CODIGOEXAMES PRIMARY KEY (CODIGO),
  CONSTRAINT FK_EXAMES_CODPACIENTE FOREIGN KEY (CODPACIENTE) REFERENCES PACIENTES (CODIGO),
  CONSTRAINT FK_EXAMES_CODRESP FOREIGN KEY (CODRESP) REFERENCES MEDICOS (CODIGO)
);

CREATE TABLE EXAMESORTO (
  CODEXAME INTEGER,
  DIV      DOUBLE PRECISION,
  EXC      DOUBLE PRECISION,
  RAIO     DOUBLE PRECISION,
  SAG      DOUBLE PRECISION
);

CREATE TABLE ARQUIVOS (
  CODIGO_EXAMES  INTEGER,
  IMAGEM_CENTRAL BLOB SUB_TYPE 0 SEGMENT SIZE 16384,
  IMAGEM_LATERAL BLOB SUB_TYPE 0 SEGMENT SIZE 16384
);

CREATE TABLE LAUDOS (
  CODIGO      INTEGER NOT NULL,
  CODPACIENTE INTEGER NOT NULL,
  MEDIDAOD    INTEGER,
  MEDIDAOS    INTEGER,
  BACKUP      VARCHAR(10),
  DATA        DATE,
  HORA        TIME,
  CONSTRAINT PK_CODIGOLAUDOS PRIMARY KEY (CODIGO),
  CONSTRAINT FK_LAUDOS_CODPACIENTE FOREIGN KEY (CODPACIENTE) REFERENCES PACIENTES (CODIGO)
);

/* The RIS's patient IDs (from the DICOM worklist), linked to the patients. */
CREATE TABLE PACIENTESRIS (
  IDRIS       VARCHAR(64) NOT NULL,
  CODPACIENTE INTEGER NOT NULL,
  EMISSOR     VARCHAR(64),
  VINCULADOEM TIMESTAMP,
  CONSTRAINT PK_PACIENTESRIS PRIMARY KEY (IDRIS)
);

/* The RIS's orders (DICOM worklist items) chosen for an exam: one waits per patient (CODEXAME
   NULL) until the patient's next exam of that day is saved, then belongs to it, and the DICOM
   objects of its visit carry the order. Created by records/UDPedidosRis.cpp in a database that
   lacks it; the two definitions must stay the same. */
CREATE TABLE PEDIDOSRIS (
  CODPACIENTE    INTEGER NOT NULL,
  IDRIS          VARCHAR(64),
  EMISSOR        VARCHAR(64),
  ACCESSION      VARCHAR(64),
  ESTUDOUID      VARCHAR(64),
  PROCEDIMENTOID VARCHAR(64),
  PROCEDIMENTO   VARCHAR(64),
  PASSOID        VARCHAR(64),
  DATA           DATE NOT NULL,
  HORA           TIME,
  CODEXAME       INTEGER
);
CREATE INDEX IX_PEDIDOSRIS_CODPACIENTE ON PEDIDOSRIS (CODPACIENTE);

/* The identity each visit's DICOM objects first went out under (Patient ID, issuer, Study
   Instance UID), reused by every later write of the visit. Created by
   records/UDVisitasDicom.cpp in a database that lacks it; the two definitions must stay the same. */
CREATE TABLE VISITASDICOM (
  VISITA      VARCHAR(16) NOT NULL,
  CODPACIENTE INTEGER NOT NULL,
  IDPACIENTE  VARCHAR(64) NOT NULL,
  EMISSOR     VARCHAR(64),
  ESTUDOUID   VARCHAR(64) NOT NULL,
  DATA        DATE,
  HORA        TIME,
  CONSTRAINT PK_VISITASDICOM PRIMARY KEY (VISITA)
);
CREATE INDEX IX_VISITASDICOM_CODPACIENTE ON VISITASDICOM (CODPACIENTE);

CREATE TABLE LAUDOSTEXTO (
  CODIGO   INTEGER NOT NULL,
  LOCAL    VARCHAR(2),
  POSCAIXA INTEGER,
  TEXTO    VARCHAR(250),
  CONSTRAINT PK_CODIGOLAUDOSTEXTO PRIMARY KEY (CODIGO)
);

/* Tear-film (NIBUT) exams: a table of their own, since their values are not a topography's.
   The code comes from CODIGO_EXAMES, so one code never names two exams of any kind. The
   result is kept as JSON text (RESULTADO) and the recording itself (GRAVACAO) inside the
   database, so that the database copy of the backup carries each exam whole. No foreign keys:
   the program adds this table to a clinic's database at open while other workstations may be
   using PACIENTES; deleting a patient deletes its rows. Written by the records layer with bound
   statements (records/UDLagrima.cpp), which also creates it in a database that lacks it; the two
   definitions must stay the same. */
CREATE TABLE EXAMESLAGRIMA (
  CODIGO      INTEGER NOT NULL,
  CODPACIENTE INTEGER NOT NULL,
  CODRESP     INTEGER NOT NULL,
  DATA        DATE,
  HORA        TIME,
  OLHO        VARCHAR(2),
  PRIMEIRA    DOUBLE PRECISION,
  MEDIA       DOUBLE PRECISION,
  AREA        DOUBLE PRECISION,
  PISCADA     DOUBLE PRECISION,
  DURACAO     DOUBLE PRECISION,
  FPS         DOUBLE PRECISION,
  RESULTADO   BLOB SUB_TYPE 0 SEGMENT SIZE 4096,
  GRAVACAO    BLOB SUB_TYPE 0 SEGMENT SIZE 16384,
  CONSTRAINT PK_CODIGOEXAMESLAGRIMA PRIMARY KEY (CODIGO)
);
CREATE INDEX IX_EXAMESLAGRIMA_CODPACIENTE ON EXAMESLAGRIMA (CODPACIENTE);

/* Language tables: kept for files made by other versions; this program never reads them. */
CREATE TABLE IDIOMA (
  CODIGO INTEGER NOT NULL,
  NOME   VARCHAR(30),
  SIGLA  VARCHAR(5),
  CONSTRAINT PK_CODIGOIDIOMA PRIMARY KEY (CODIGO)
);

CREATE TABLE IDIOMA_DEFAULT (
  CODIDIOMA INTEGER
);

CREATE TABLE LANG (
  CODIGO    INTEGER NOT NULL,
  CODIDIOMA INTEGER,
  CHAVE     VARCHAR(60),
  TEXTO     VARCHAR(250),
  CONSTRAINT PK_CODIGOLANG PRIMARY KEY (CODIGO)
);

/* ---- Indexes for the program's searches --------------------------------------------------- */

/* Name searches compare UPPER(NOME) with a prefix (LIKE 'AB%' or STARTING WITH). */
CREATE INDEX IX_PACIENTES_NOME_UPPER ON PACIENTES COMPUTED BY (UPPER(NOME));
CREATE INDEX IX_MEDICOS_NOME_UPPER ON MEDICOS COMPUTED BY (UPPER(NOME));
/* Exact name lookups (code by name); for patients the (NOME, CODIGO) index below serves them. */
CREATE INDEX IX_MEDICOS_NOME ON MEDICOS (NOME);
/* The browser's patient grid pages the list by its keys from any point, both ways, in name
   and in creation order, without sorting the table; and counts the patients without exams.
   A second index on NOME alone would make the server filter through a bitmap of every name
   after the key instead of walking this one from the key. */
CREATE INDEX IX_PACIENTES_NOME_CODIGO ON PACIENTES (NOME, CODIGO);
CREATE DESCENDING INDEX IX_PACIENTES_NOME_CODIGO_D ON PACIENTES (NOME, CODIGO);
CREATE DESCENDING INDEX IX_PACIENTES_CODIGO_D ON PACIENTES (CODIGO);
CREATE INDEX IX_PACIENTES_TOTALEXAMES ON PACIENTES (TOTALEXAMES);
CREATE INDEX IX_EXAMESORTO_CODEXAME ON EXAMESORTO (CODEXAME);
CREATE INDEX IX_ARQUIVOS_CODIGO_EXAMES ON ARQUIVOS (CODIGO_EXAMES);
/* Reports of an exam, looked up before the exam is deleted. */
CREATE INDEX IX_LAUDOS_MEDIDAOD ON LAUDOS (MEDIDAOD);
CREATE INDEX IX_LAUDOS_MEDIDAOS ON LAUDOS (MEDIDAOS);
CREATE INDEX IX_LAUDOSTEXTO_LOCAL ON LAUDOSTEXTO (LOCAL, POSCAIXA);

COMMIT;

/* ---- Stored procedures -------------------------------------------------------------------
   Parameters are declared with the widths of their columns, so a text that does not fit is
   refused by the server before anything is written. A new code comes from the table's
   generator; when the generator lags behind the table (a file restored from an older copy),
   it is moved past the highest code first, so an insert never collides with a stored row.
   The lag is probed through the primary-key index (CODIGO >= new code): MAX(CODIGO) would
   read the whole table on every insert, as only a descending index serves MAX. */

SET TERM ^ ;

CREATE PROCEDURE InsertPacientes (
  Nome VARCHAR(50), Rg VARCHAR(15), CPF VARCHAR(11), Sexo VARCHAR(1), EstadoCivil VARCHAR(1),
  Conjuge VARCHAR(25), DataNascimento VARCHAR(10), Naturalidade VARCHAR(40),
  NaturalidadeEstado VARCHAR(2), Pai VARCHAR(50), Mae VARCHAR(50), Rua VARCHAR(40),
  Complemento VARCHAR(25), Bairro VARCHAR(30), Cidade VARCHAR(40), Estado VARCHAR(2),
  Cep VARCHAR(9), Fone VARCHAR(11), Celular VARCHAR(11), Convenio VARCHAR(50),
  Profissao VARCHAR(40), TipoSang VARCHAR(3), DtCadastro DATE, TotalExames INTEGER)
AS
  DECLARE VARIABLE Novo INTEGER;
  DECLARE VARIABLE Maior INTEGER;
BEGIN
  Novo = GEN_ID(CODIGO_PACIENTES, 1);
  IF (EXISTS(SELECT 1 FROM PACIENTES WHERE CODIGO >= :Novo)) THEN
  BEGIN
    SELECT MAX(CODIGO) FROM PACIENTES INTO :Maior;
    Novo = GEN_ID(CODIGO_PACIENTES, Maior - Novo + 1);
  END
  /* No operation of the program uses CODMEDICO; it is required, so it gets 0. */
  INSERT INTO PACIENTES (CODIGO, CODMEDICO, NOME, RG, CPF, SEXO, ESTADOCIVIL, CONJUGE,
    DATANASCIMENTO, NATURALIDADE, NATURALIDADEESTADO, PAI, MAE, RUA, COMPLEMENTO, BAIRRO,
    CIDADE, ESTADO, CEP, FONE, CELULAR, CONVENIO, PROFISSAO, TIPOSANG, DTCADASTRO,
    TOTALEXAMES)
  VALUES (:Novo, 0, :Nome, :Rg, :CPF, :Sexo, :EstadoCivil, :Conjuge, :DataNascimento,
    :Naturalidade, :NaturalidadeEstado, :Pai, :Mae, :Rua, :Complemento, :Bairro, :Cidade,
    :Estado, :Cep, :Fone, :Celular, :Convenio, :Profissao, :TipoSang, :DtCadastro,
    :TotalExames);
END^

CREATE PROCEDURE UpdatePacientesByCodigo (
  Codigo INTEGER,
  Nome VARCHAR(50), Rg VARCHAR(15), CPF VARCHAR(11), Sexo VARCHAR(1), EstadoCivil VARCHAR(1),
  Conjuge VARCHAR(25), DataNascimento VARCHAR(10), Naturalidade VARCHAR(40),
  NaturalidadeEstado VARCHAR(2), Pai VARCHAR(50), Mae VARCHAR(50), Rua VARCHAR(40),
  Complemento VARCHAR(25), Bairro VARCHAR(30), Cidade VARCHAR(40), Estado VARCHAR(2),
  Cep VARCHAR(9), Fone VARCHAR(11), Celular VARCHAR(11), Convenio VARCHAR(50),
  Profissao VARCHAR(40), TipoSang VARCHAR(3))
AS
BEGIN
  UPDATE PACIENTES SET NOME = :Nome, RG = :Rg, CPF = :CPF, SEXO = :Sexo,
    ESTADOCIVIL = :EstadoCivil, CONJUGE = :Conjuge, DATANASCIMENTO = :DataNascimento,
    NATURALIDADE = :Naturalidade, NATURALIDADEESTADO = :NaturalidadeEstado, PAI = :Pai,
    MAE = :Mae, RUA = :Rua, COMPLEMENTO = :Complemento, BAIRRO = :Bairro, CIDADE = :Cidade,
    ESTADO = :Estado, CEP = :Cep, FONE = :Fone, CELULAR = :Celular, CONVENIO = :Convenio,
    PROFISSAO = :Profissao, TIPOSANG = :TipoSang
  WHERE CODIGO = :Codigo;
END^

CREATE PROCEDURE DeletePacientesByCodigo (Codigo INTEGER)
AS
BEGIN
  DELETE FROM PACIENTES WHERE CODIGO = :Codigo;
END^

CREATE PROCEDURE UpdateExamesPacientesByCodigo (
  Codigo INTEGER, UltimoExame VARCHAR(50), TotalExames INTEGER)
AS
BEGIN
  UPDATE PACIENTES SET ULTIMOEXAME = :UltimoExame, TOTALEXAMES = :TotalExames
  WHERE CODIGO = :Codigo;
END^

CREATE PROCEDURE InsertMedicos (
  Nome VARCHAR(50), Rg VARCHAR(15), CPF VARCHAR(11), Crm VARCHAR(15), Sexo VARCHAR(1),
  EstadoCivil VARCHAR(1), Conjuge VARCHAR(25), DataNascimento VARCHAR(10),
  Naturalidade VARCHAR(40), NaturalidadeEstado VARCHAR(2), Pai VARCHAR(50), Mae VARCHAR(50),
  Rua VARCHAR(40), Complemento VARCHAR(25), Bairro VARCHAR(30), Cidade VARCHAR(40),
  Estado VARCHAR(2), Cep VARCHAR(9), Fone VARCHAR(11), Celular VARCHAR(11))
AS
  DECLARE VARIABLE Novo INTEGER;
  DECLARE VARIABLE Maior INTEGER;
BEGIN
  Novo = GEN_ID(CODIGO_MEDICOS, 1);
  IF (EXISTS(SELECT 1 FROM MEDICOS WHERE CODIGO >= :Novo)) THEN
  BEGIN
    SELECT MAX(CODIGO) FROM MEDICOS INTO :Maior;
    Novo = GEN_ID(CODIGO_MEDICOS, Maior - Novo + 1);
  END
  INSERT INTO MEDICOS (CODIGO, NOME, RG, CPF, CRM, SEXO, ESTADOCIVIL, CONJUGE,
    DATANASCIMENTO, NATURALIDADE, NATURALIDADEESTADO, PAI, MAE, RUA, COMPLEMENTO, BAIRRO,
    CIDADE, ESTADO, CEP, FONE, CELULAR)
  VALUES (:Novo, :Nome, :Rg, :CPF, :Crm, :Sexo, :EstadoCivil, :Conjuge, :DataNascimento,
    :Naturalidade, :NaturalidadeEstado, :Pai, :Mae, :Rua, :Complemento, :Bairro, :Cidade,
    :Estado, :Cep, :Fone, :Celular);
END^

CREATE PROCEDURE UpdateMedicosByCodigo (
  Codigo INTEGER,
  Nome VARCHAR(50), Rg VARCHAR(15), CPF VARCHAR(11), Crm VARCHAR(15), Sexo VARCHAR(1),
  EstadoCivil VARCHAR(1), Conjuge VARCHAR(25), DataNascimento VARCHAR(10),
  Naturalidade VARCHAR(40), NaturalidadeEstado VARCHAR(2), Pai VARCHAR(50), Mae VARCHAR(50),
  Rua VARCHAR(40), Complemento VARCHAR(25), Bairro VARCHAR(30), Cidade VARCHAR(40),
  Estado VARCHAR(2), Cep VARCHAR(9), Fone VARCHAR(11), Celular VARCHAR(11))
AS
BEGIN
  UPDATE MEDICOS SET NOME = :Nome, RG = :Rg, CPF = :CPF, CRM = :Crm, SEXO = :Sexo,
    ESTADOCIVIL = :EstadoCivil, CONJUGE = :Conjuge, DATANASCIMENTO = :DataNascimento,
    NATURALIDADE = :Naturalidade, NATURALIDADEESTADO = :NaturalidadeEstado, PAI = :Pai,
    MAE = :Mae, RUA = :Rua, COMPLEMENTO = :Complemento, BAIRRO = :Bairro, CIDADE = :Cidade,
    ESTADO = :Estado, CEP = :Cep, FONE = :Fone, CELULAR = :Celular
  WHERE CODIGO = :Codigo;
END^

CREATE PROCEDURE DeleteMedicosByCodigo (Codigo INTEGER)
AS
BEGIN
  DELETE FROM MEDICOS WHERE CODIGO = :Codigo;
END^

CREATE PROCEDURE InsertExames (
  CodPaciente INTEGER, CodResp INTEGER, Data DATE, Hora TIME, Olho VARCHAR(2),
  IndConf DOUBLE PRECISION, TipoExame VARCHAR(5), Backup VARCHAR(10), Diag VARCHAR(240),
  Observacao VARCHAR(240), NumAneis INTEGER, TipoCone VARCHAR(10))
AS
  DECLARE VARIABLE Novo INTEGER;
  DECLARE VARIABLE Maior INTEGER;
BEGIN
  Novo = GEN_ID(CODIGO_EXAMES, 1);
  IF (EXISTS(SELECT 1 FROM EXAMES WHERE CODIGO >= :Novo)) THEN
  BEGIN
    SELECT MAX(CODIGO) FROM EXAMES INTO :Maior;
    Novo = GEN_ID(CODIGO_EXAMES, Maior - Novo + 1);
  END
  INSERT INTO EXAMES (CODIGO, CODPACIENTE, CODRESP, DATA, HORA, OLHO, INDCONF, TIPOEXAME,
    BACKUP, DIAG, OBSERVACAO, NUMANEL, TIPOCONE)
  VALUES (:Novo, :CodPaciente, :CodResp, :Data, :Hora, :Olho, :IndConf, :TipoExame,
    :Backup, :Diag, :Observacao, :NumAneis, :TipoCone);
END^

CREATE PROCEDURE InsertExamesOrto (
  ECodExame INTEGER, EDiv DOUBLE PRECISION, EExc DOUBLE PRECISION, ERaio DOUBLE PRECISION,
  ESag DOUBLE PRECISION)
AS
BEGIN
  INSERT INTO EXAMESORTO (CODEXAME, DIV, EXC, RAIO, SAG)
  VALUES (:ECodExame, :EDiv, :EExc, :ERaio, :ESag);
END^

CREATE PROCEDURE UpdateBackupExameByCodigo (Codigo INTEGER, Backup VARCHAR(10))
AS
BEGIN
  UPDATE EXAMES SET BACKUP = :Backup WHERE CODIGO = :Codigo;
END^

/* The empty text, never NULL: "not backed up" is BACKUP = ''. */
CREATE PROCEDURE ZeraBackupExames
AS
BEGIN
  UPDATE EXAMES SET BACKUP = '';
END^

CREATE PROCEDURE UpdateDiagExameByCodigo (Codigo INTEGER, Diag VARCHAR(240))
AS
BEGIN
  UPDATE EXAMES SET DIAG = :Diag WHERE CODIGO = :Codigo;
END^

CREATE PROCEDURE UpdateObsExameByCodigo (Codigo INTEGER, Obs VARCHAR(240))
AS
BEGIN
  UPDATE EXAMES SET OBSERVACAO = :Obs WHERE CODIGO = :Codigo;
END^

/* The program issues no delete of its own for the stored images, so they go with the exam. */
CREATE PROCEDURE DeleteExamesByCodigo (Codigo INTEGER)
AS
BEGIN
  DELETE FROM ARQUIVOS WHERE CODIGO_EXAMES = :Codigo;
  DELETE FROM EXAMES WHERE CODIGO = :Codigo;
END^

CREATE PROCEDURE DeleteExamesOrtoByCodigoExame (CodExame INTEGER)
AS
BEGIN
  DELETE FROM EXAMESORTO WHERE CODEXAME = :CodExame;
END^

/* At most one row per exam: storing the images again replaces the earlier row. */
CREATE PROCEDURE InsertArquivos (
  Codigo_Exames INTEGER, Imagem_Central BLOB SUB_TYPE 0, Imagem_Lateral BLOB SUB_TYPE 0)
AS
BEGIN
  DELETE FROM ARQUIVOS WHERE CODIGO_EXAMES = :Codigo_Exames;
  INSERT INTO ARQUIVOS (CODIGO_EXAMES, IMAGEM_CENTRAL, IMAGEM_LATERAL)
  VALUES (:Codigo_Exames, :Imagem_Central, :Imagem_Lateral);
END^

/* The report editor takes the newest report as the last row in key order, so the new code
   must exceed every stored one even when the generator lags. */
CREATE PROCEDURE InsertLaudos (
  CodPaciente INTEGER, MedidaOD INTEGER, MedidaOS INTEGER, Backup VARCHAR(10), Data DATE,
  Hora TIME)
AS
  DECLARE VARIABLE Novo INTEGER;
  DECLARE VARIABLE Maior INTEGER;
BEGIN
  Novo = GEN_ID(CODIGO_LAUDOS, 1);
  IF (EXISTS(SELECT 1 FROM LAUDOS WHERE CODIGO >= :Novo)) THEN
  BEGIN
    SELECT MAX(CODIGO) FROM LAUDOS INTO :Maior;
    Novo = GEN_ID(CODIGO_LAUDOS, Maior - Novo + 1);
  END
  INSERT INTO LAUDOS (CODIGO, CODPACIENTE, MEDIDAOD, MEDIDAOS, BACKUP, DATA, HORA)
  VALUES (:Novo, :CodPaciente, :MedidaOD, :MedidaOS, :Backup, :Data, :Hora);
END^

CREATE PROCEDURE UpdateBackupLaudoByCodigo (Codigo INTEGER, Backup VARCHAR(10))
AS
BEGIN
  UPDATE LAUDOS SET BACKUP = :Backup WHERE CODIGO = :Codigo;
END^

CREATE PROCEDURE ZeraBackupLaudos
AS
BEGIN
  UPDATE LAUDOS SET BACKUP = '';
END^

CREATE PROCEDURE DeleteLaudosByCodigo (Codigo INTEGER)
AS
BEGIN
  DELETE FROM LAUDOS WHERE CODIGO = :Codigo;
END^

/* Every commit that touched an exam or a patient (its counters included) is announced to the
   workstations listening (records/AvisosBanco): their open lists show it without reopening.
   Kept equal to TAvisosBanco::objetos(), which adds them to databases made before them. */
CREATE TRIGGER EXAMES_AVISA FOR EXAMES ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 0
AS BEGIN POST_EVENT 'NORVIX_EXAMES'; END^

CREATE TRIGGER PACIENTES_AVISA FOR PACIENTES ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 0
AS BEGIN POST_EVENT 'NORVIX_PACIENTES'; END^

SET TERM ; ^

COMMIT;

/* ---- Phrase catalogue of the report editor ------------------------------------------------
   LOCAL is the report box, POSCAIXA the numbered gap of the generated sentence that the
   phrase fills (the editor offers 3 groups for CE, 7 for DS and 16 for CO):
     CE  "Condições do Exame": "Sem uso de lentes de contato #1# #2# #3#"
     DS  both eyes:            "Astigmatismo #1# #2# e #3# #4#, #5#, com curvatura máxima observada
                                de .. D, #6# no mapa ... revela #7# astigmatismo corneano de ..."
     CO  "Conclusão":          "... astigmatismo #1# #2# e #3# #4#, #5#, #6# em OD e ... #7# .. #12#
                                em OS. #13# #14##15# #16#."
   Gap 15 follows gap 14 without a blank, so its phrases begin with one. An empty phrase is
   offered as "Em Branco" and empties its gap. The comments box is free text and has no
   catalogue. */

INSERT INTO LAUDOSTEXTO VALUES (1, 'CE', 1, 'gelatinosas');
INSERT INTO LAUDOSTEXTO VALUES (2, 'CE', 1, 'rígidas gás-permeáveis');
INSERT INTO LAUDOSTEXTO VALUES (3, 'CE', 1, 'de ortoceratologia');
INSERT INTO LAUDOSTEXTO VALUES (4, 'CE', 1, '');

INSERT INTO LAUDOSTEXTO VALUES (11, 'CE', 2, 'há mais de 7 dias,');
INSERT INTO LAUDOSTEXTO VALUES (12, 'CE', 2, 'há mais de 30 dias,');
INSERT INTO LAUDOSTEXTO VALUES (13, 'CE', 2, 'há 48 horas,');
INSERT INTO LAUDOSTEXTO VALUES (14, 'CE', 2, '');

INSERT INTO LAUDOSTEXTO VALUES (21, 'CE', 3, 'conforme relato do paciente.');
INSERT INTO LAUDOSTEXTO VALUES (22, 'CE', 3, 'com filme lacrimal regular.');
INSERT INTO LAUDOSTEXTO VALUES (23, 'CE', 3, 'com boa colaboração e fixação estável.');
INSERT INTO LAUDOSTEXTO VALUES (100, 'DS', 1, 'regular');
INSERT INTO LAUDOSTEXTO VALUES (101, 'DS', 1, 'irregular');

INSERT INTO LAUDOSTEXTO VALUES (110, 'DS', 2, 'simétrico');
INSERT INTO LAUDOSTEXTO VALUES (111, 'DS', 2, 'assimétrico');

INSERT INTO LAUDOSTEXTO VALUES (120, 'DS', 3, 'a favor da regra');
INSERT INTO LAUDOSTEXTO VALUES (121, 'DS', 3, 'contra a regra');
INSERT INTO LAUDOSTEXTO VALUES (122, 'DS', 3, 'oblíquo');

INSERT INTO LAUDOSTEXTO VALUES (130, 'DS', 4, 'de grau leve');
INSERT INTO LAUDOSTEXTO VALUES (131, 'DS', 4, 'de grau moderado');
INSERT INTO LAUDOSTEXTO VALUES (132, 'DS', 4, 'de grau acentuado');

INSERT INTO LAUDOSTEXTO VALUES (140, 'DS', 5, 'sem sinais de ectasia');
INSERT INTO LAUDOSTEXTO VALUES (141, 'DS', 5, 'com encurvamento inferior localizado');
INSERT INTO LAUDOSTEXTO VALUES (142, 'DS', 5, 'com padrão em gravata-borboleta');

INSERT INTO LAUDOSTEXTO VALUES (150, 'DS', 6, 'localizada na região central');
INSERT INTO LAUDOSTEXTO VALUES (151, 'DS', 6, 'localizada na região paracentral inferior');
INSERT INTO LAUDOSTEXTO VALUES (152, 'DS', 6, 'localizada na média periferia superior');

INSERT INTO LAUDOSTEXTO VALUES (160, 'DS', 7, 'baixo');
INSERT INTO LAUDOSTEXTO VALUES (161, 'DS', 7, 'moderado');
INSERT INTO LAUDOSTEXTO VALUES (162, 'DS', 7, 'alto');

INSERT INTO LAUDOSTEXTO VALUES (200, 'CO', 1, 'regular');
INSERT INTO LAUDOSTEXTO VALUES (201, 'CO', 1, 'irregular');

INSERT INTO LAUDOSTEXTO VALUES (210, 'CO', 2, 'simétrico');
INSERT INTO LAUDOSTEXTO VALUES (211, 'CO', 2, 'assimétrico');

INSERT INTO LAUDOSTEXTO VALUES (220, 'CO', 3, 'a favor da regra');
INSERT INTO LAUDOSTEXTO VALUES (221, 'CO', 3, 'contra a regra');
INSERT INTO LAUDOSTEXTO VALUES (222, 'CO', 3, 'oblíquo');

INSERT INTO LAUDOSTEXTO VALUES (230, 'CO', 4, 'de grau leve');
INSERT INTO LAUDOSTEXTO VALUES (231, 'CO', 4, 'de grau moderado');
INSERT INTO LAUDOSTEXTO VALUES (232, 'CO', 4, 'de grau acentuado');

INSERT INTO LAUDOSTEXTO VALUES (240, 'CO', 5, 'sem sinais de ectasia');
INSERT INTO LAUDOSTEXTO VALUES (241, 'CO', 5, 'com encurvamento inferior localizado');

INSERT INTO LAUDOSTEXTO VALUES (250, 'CO', 6, 'de aspecto fisiológico');
INSERT INTO LAUDOSTEXTO VALUES (251, 'CO', 6, 'sugestivo de ceratocone incipiente');
INSERT INTO LAUDOSTEXTO VALUES (252, 'CO', 6, 'a correlacionar com a refração');

INSERT INTO LAUDOSTEXTO VALUES (260, 'CO', 7, 'regular');
INSERT INTO LAUDOSTEXTO VALUES (261, 'CO', 7, 'irregular');

INSERT INTO LAUDOSTEXTO VALUES (270, 'CO', 8, 'simétrico');
INSERT INTO LAUDOSTEXTO VALUES (271, 'CO', 8, 'assimétrico');

INSERT INTO LAUDOSTEXTO VALUES (280, 'CO', 9, 'a favor da regra');
INSERT INTO LAUDOSTEXTO VALUES (281, 'CO', 9, 'contra a regra');
INSERT INTO LAUDOSTEXTO VALUES (282, 'CO', 9, 'oblíquo');

INSERT INTO LAUDOSTEXTO VALUES (290, 'CO', 10, 'de grau leve');
INSERT INTO LAUDOSTEXTO VALUES (291, 'CO', 10, 'de grau moderado');
INSERT INTO LAUDOSTEXTO VALUES (292, 'CO', 10, 'de grau acentuado');

INSERT INTO LAUDOSTEXTO VALUES (300, 'CO', 11, 'sem sinais de ectasia');
INSERT INTO LAUDOSTEXTO VALUES (301, 'CO', 11, 'com encurvamento inferior localizado');

INSERT INTO LAUDOSTEXTO VALUES (310, 'CO', 12, 'de aspecto fisiológico');
INSERT INTO LAUDOSTEXTO VALUES (311, 'CO', 12, 'sugestivo de ceratocone incipiente');
INSERT INTO LAUDOSTEXTO VALUES (312, 'CO', 12, 'a correlacionar com a refração');

INSERT INTO LAUDOSTEXTO VALUES (320, 'CO', 13, 'Sugere-se');
INSERT INTO LAUDOSTEXTO VALUES (321, 'CO', 13, 'Recomenda-se');

INSERT INTO LAUDOSTEXTO VALUES (330, 'CO', 14, 'acompanhamento topográfico');
INSERT INTO LAUDOSTEXTO VALUES (331, 'CO', 14, 'avaliação paquimétrica');

INSERT INTO LAUDOSTEXTO VALUES (340, 'CO', 15, ' semestral');
INSERT INTO LAUDOSTEXTO VALUES (341, 'CO', 15, ' complementar');
INSERT INTO LAUDOSTEXTO VALUES (342, 'CO', 15, '');

INSERT INTO LAUDOSTEXTO VALUES (350, 'CO', 16, 'a critério médico');
INSERT INTO LAUDOSTEXTO VALUES (351, 'CO', 16, 'antes de eventual cirurgia refrativa');

COMMIT;
