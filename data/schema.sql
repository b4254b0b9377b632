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

CREATE TABLE LAUDOSTEXTO (
  CODIGO   INTEGER NOT NULL,
  LOCAL    VARCHAR(2),
  POSCAIXA INTEGER,
  TEXTO    VARCHAR(250),
  CONSTRAINT PK_CODIGOLAUDOSTEXTO PRIMARY KEY (CODIGO)
);

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

SET TERM ; ^

COMMIT;

/* ---- Phrase catalogue of the report editor ------------------------------------------------
   LOCAL is the report box, POSCAIXA the group inside the box (from 1):
     CE  "Condições do Exame"   1 colaboração e fixação   2 filme lacrimal   3 lentes de contato
     OD  "Olho Direito"         1 topografia   2 ceratometria   3 astigmatismo
     OE  "Olho Esquerdo"        1 topografia   2 ceratometria   3 astigmatismo
     CO  "Conclusão"            1 achados   2 conduta
     CM  "Comentários"          1 orientações   2 acompanhamento
   "#n#" marks a gap the operator fills in the editor. */

INSERT INTO LAUDOSTEXTO VALUES (1, 'CE', 1, 'Exame realizado com boa colaboração do paciente.');
INSERT INTO LAUDOSTEXTO VALUES (2, 'CE', 1, 'Exame realizado com colaboração regular do paciente.');
INSERT INTO LAUDOSTEXTO VALUES (3, 'CE', 1, 'Fixação instável durante a captura; resultados a interpretar com cautela.');
INSERT INTO LAUDOSTEXTO VALUES (4, 'CE', 2, 'Filme lacrimal regular, sem interferência na reflexão dos anéis.');
INSERT INTO LAUDOSTEXTO VALUES (5, 'CE', 2, 'Filme lacrimal irregular; recomenda-se repetir o exame após lubrificação.');
INSERT INTO LAUDOSTEXTO VALUES (6, 'CE', 3, 'Paciente sem uso de lentes de contato.');
INSERT INTO LAUDOSTEXTO VALUES (7, 'CE', 3, 'Lentes de contato suspensas há #1# dias antes do exame.');
INSERT INTO LAUDOSTEXTO VALUES (8, 'CE', 3, 'Exame realizado em uso de lente de contato #1#.');

INSERT INTO LAUDOSTEXTO VALUES (20, 'OD', 1, 'Topografia corneana de padrão regular.');
INSERT INTO LAUDOSTEXTO VALUES (21, 'OD', 1, 'Padrão em gravata borboleta simétrica.');
INSERT INTO LAUDOSTEXTO VALUES (22, 'OD', 1, 'Padrão em gravata borboleta assimétrica.');
INSERT INTO LAUDOSTEXTO VALUES (23, 'OD', 1, 'Área de encurvamento inferior com #1# D de assimetria.');
INSERT INTO LAUDOSTEXTO VALUES (24, 'OD', 2, 'Ceratometria: K1 #1# D a #2#°, K2 #3# D a #4#°.');
INSERT INTO LAUDOSTEXTO VALUES (25, 'OD', 2, 'Ceratometria dentro dos limites da normalidade.');
INSERT INTO LAUDOSTEXTO VALUES (26, 'OD', 3, 'Astigmatismo corneano regular a favor da regra de #1# D.');
INSERT INTO LAUDOSTEXTO VALUES (27, 'OD', 3, 'Astigmatismo corneano regular contra a regra de #1# D.');
INSERT INTO LAUDOSTEXTO VALUES (28, 'OD', 3, 'Astigmatismo corneano irregular.');

INSERT INTO LAUDOSTEXTO VALUES (40, 'OE', 1, 'Topografia corneana de padrão regular.');
INSERT INTO LAUDOSTEXTO VALUES (41, 'OE', 1, 'Padrão em gravata borboleta simétrica.');
INSERT INTO LAUDOSTEXTO VALUES (42, 'OE', 1, 'Padrão em gravata borboleta assimétrica.');
INSERT INTO LAUDOSTEXTO VALUES (43, 'OE', 1, 'Área de encurvamento inferior com #1# D de assimetria.');
INSERT INTO LAUDOSTEXTO VALUES (44, 'OE', 2, 'Ceratometria: K1 #1# D a #2#°, K2 #3# D a #4#°.');
INSERT INTO LAUDOSTEXTO VALUES (45, 'OE', 2, 'Ceratometria dentro dos limites da normalidade.');
INSERT INTO LAUDOSTEXTO VALUES (46, 'OE', 3, 'Astigmatismo corneano regular a favor da regra de #1# D.');
INSERT INTO LAUDOSTEXTO VALUES (47, 'OE', 3, 'Astigmatismo corneano regular contra a regra de #1# D.');
INSERT INTO LAUDOSTEXTO VALUES (48, 'OE', 3, 'Astigmatismo corneano irregular.');

INSERT INTO LAUDOSTEXTO VALUES (60, 'CO', 1, 'Exame topográfico dentro dos padrões da normalidade em ambos os olhos.');
INSERT INTO LAUDOSTEXTO VALUES (61, 'CO', 1, 'Astigmatismo corneano regular em ambos os olhos.');
INSERT INTO LAUDOSTEXTO VALUES (62, 'CO', 1, 'Achados compatíveis com ceratocone em #1#.');
INSERT INTO LAUDOSTEXTO VALUES (63, 'CO', 1, 'Achados compatíveis com córnea operada em #1#.');
INSERT INTO LAUDOSTEXTO VALUES (64, 'CO', 2, 'Sem contraindicação topográfica para cirurgia refrativa.');
INSERT INTO LAUDOSTEXTO VALUES (65, 'CO', 2, 'Contraindicação topográfica relativa para cirurgia refrativa.');

INSERT INTO LAUDOSTEXTO VALUES (80, 'CM', 1, 'Correlacionar com refração e paquimetria.');
INSERT INTO LAUDOSTEXTO VALUES (81, 'CM', 1, 'Sugere-se complementar com tomografia de córnea.');
INSERT INTO LAUDOSTEXTO VALUES (82, 'CM', 2, 'Repetir o exame em #1# meses para acompanhamento.');
INSERT INTO LAUDOSTEXTO VALUES (83, 'CM', 2, 'Comparar com o exame anterior de #1#.');

COMMIT;
